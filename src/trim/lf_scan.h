// Where the line feeds are in 64 bytes: bit k of the mask is set when p[k] is
// one. Three ways to find them, all built on x86-64 so that each is tested
// against the others; AVX2 is used only where the processor has it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
// Functions for a wider instruction set than the build's, called only once
// the processor is known to have it.
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define TAVLEN_HAS_AVX2 1
#define TAVLEN_AVX2 __attribute__((target("avx2,bmi,bmi2")))
#include <cpuid.h>
#include <immintrin.h>
#endif

// The bytes of w in the opposite order.
constexpr uint64_t swap_bytes(uint64_t w) {
  uint64_t swapped = 0;
  for (int b = 0; b < 8; ++b) swapped |= ((w >> (8 * b)) & 0xff) << (56 - 8 * b);
  return swapped;
}
// Checked on every build, as only big-endian processors run it.
static_assert(swap_bytes(0x8001020304050607ull) == 0x0706050403020180ull);

// Eight bytes at a time in plain integer arithmetic, for any processor.
inline uint64_t lf_mask_plain(const unsigned char* p) {
  constexpr uint64_t low7 = 0x7f7f7f7f7f7f7f7full;
  constexpr uint64_t lf_bytes = 0x0a0a0a0a0a0a0a0aull;
  uint64_t m = 0;
  for (int k = 0; k < 8; ++k) {
    uint64_t w;
    std::memcpy(&w, p + 8 * k, 8);
    // The gather below wants the lowest address in the lowest byte.
    if constexpr (std::endian::native == std::endian::big) w = swap_bytes(w);
    w ^= lf_bytes;  // a line feed is now a zero byte
    // High bit set in exactly the zero bytes (no borrow between bytes).
    const uint64_t zero = ~(((w & low7) + low7) | w | low7);
    // Gather the eight high bits into one byte, lowest address first.
    const uint64_t bits = ((zero >> 7) * 0x0102040810204080ull) >> 56;
    m |= bits << (8 * k);
  }
  return m;
}

#ifdef __SSE2__
// Sixteen bytes a compare: every x86-64 processor has SSE2.
inline uint64_t lf_mask_sse2(const unsigned char* p) {
  const __m128i lf = _mm_set1_epi8('\n');
  uint64_t m = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    m |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf))))
         << (16 * k);
  }
  return m;
}
#endif

#ifdef TAVLEN_HAS_AVX2
// Thirty-two bytes a compare.
TAVLEN_AVX2 inline uint64_t lf_mask_avx2(const unsigned char* p) {
  const __m256i lf = _mm256_set1_epi8('\n');
  const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  const uint32_t low = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(lo, lf)));
  const uint32_t high = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(hi, lf)));
  return uint64_t{low} | uint64_t{high} << 32;
}

// True when the processor has AVX2 (with BMI1 and BMI2) and the system saves
// its registers. In a virtual machine each cpuid traps to the host (7 us
// here), so this asks for two leaves, and only when called.
inline bool have_avx2() {
  unsigned a, b, c, d;
  __cpuid(1, a, b, c, d);
  if ((c & (1u << 27)) == 0 || (c & (1u << 28)) == 0) return false;  // OSXSAVE, AVX
  unsigned saved, high;
  __asm__("xgetbv" : "=a"(saved), "=d"(high) : "c"(0));
  if ((saved & 6) != 6) return false;  // the XMM and YMM registers
  __cpuid_count(7, 0, a, b, c, d);
  return (b & (1u << 3)) != 0 && (b & (1u << 5)) != 0 && (b & (1u << 8)) != 0;
}
#endif
