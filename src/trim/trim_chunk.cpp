#include "trim/trim_chunk.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "trim/lf_scan.h"

namespace {

unsigned char* put_line_end(unsigned char* out, line_end variant) {
  if (variant == line_end::crlf) *out++ = '\r';
  *out++ = '\n';
  return out;
}

constexpr size_t block = 64;

struct plain_scan {
  static uint64_t mask(const unsigned char* p) { return lf_mask_plain(p); }
  static void copy(unsigned char* to, const unsigned char* from) { std::memcpy(to, from, block); }
};

#ifdef __SSE2__
struct sse2_scan {
  static uint64_t mask(const unsigned char* p) { return lf_mask_sse2(p); }
  static void copy(unsigned char* to, const unsigned char* from) { std::memcpy(to, from, block); }
};
#endif

#ifdef TAVLEN_HAS_AVX2
struct avx2_scan {
  TAVLEN_AVX2 static uint64_t mask(const unsigned char* p) { return lf_mask_avx2(p); }
  TAVLEN_AVX2 static void copy(unsigned char* to, const unsigned char* from) {
    const __m256i lo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
    const __m256i hi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to + 32), hi);
  }
};
#endif

}  // namespace

int32_t delay_for_cut(int32_t cut_len) {
  // The largest cut wraps to an empty window, which holds nothing back.
  const int32_t window_len = static_cast<int32_t>(static_cast<uint32_t>(cut_len) + 1u);
  if (window_len <= 1) return 0;
  return std::min(window_len - 1, max_delay);
}

void trim_start(trim_carry* c, int32_t group_lines, int32_t cut_len, line_end variant) {
  c->group_lines = group_lines;
  c->delay = delay_for_cut(cut_len);
  c->variant = variant;
  c->scan = pass_scan::widest;
  c->lines_seen = 0;
  c->held_len = 0;
}

pass_scan widest_scan() {
#ifdef TAVLEN_HAS_AVX2
  static const bool avx2 = have_avx2();
  if (avx2) return pass_scan::avx2;
#endif
#ifdef __SSE2__
  return pass_scan::sse2;
#else
  return pass_scan::plain;
#endif
}

namespace {

// Where every line feed ends a group (the CSV job), none is counted, and each
// takes back min(delay, bytes since the group started): that count restarts
// at each line feed, so the output position waits on one add per line, not on
// the line before. Whole blocks, as in trim_with; returns where the current
// group starts in out. The line end is stored as two bytes: for LF the copy
// then overwrites the second.
template <class Scan, ptrdiff_t eol_len>
[[gnu::always_inline]] inline ptrdiff_t every_line_ends_a_group(const unsigned char*& p,
                                                                const unsigned char* end,
                                                                unsigned char* out, ptrdiff_t& base,
                                                                ptrdiff_t cap) {
  const unsigned char eol_bytes[2] = {eol_len == 2 ? '\r' : '\n', '\n'};
  uint16_t eol;
  std::memcpy(&eol, eol_bytes, 2);
  ptrdiff_t since = base;  // the group's bytes in out in front of the block
  for (; static_cast<size_t>(end - p) >= 2 * block; p += block) {
    uint64_t m = Scan::mask(p);
    Scan::copy(out + base, p);
    for (; m != 0; m &= m - 1) {
      const ptrdiff_t j = std::countr_zero(m);
      const ptrdiff_t cut = std::min(cap, since + j);
      unsigned char* const at = out + (base + j - cut);
      std::memcpy(at, &eol, 2);
      Scan::copy(at + eol_len, p + j + 1);
      base += eol_len - 1 - cut;
      since = ~j;  // -(j + 1): the next group starts after this line feed
    }
    base += block;
    since += block;
  }
  return base - since;
}

// Inlined into each caller below, so that it is built for that caller's
// instruction set.
template <class Scan>
[[gnu::always_inline]] inline size_t trim_with(trim_carry* c, const unsigned char* in, size_t n,
                                               unsigned char* out) {
  // Bytes are written out as soon as they arrive; a group-ending line feed
  // then takes back the `delay` bytes in front of it (no more than the group
  // has written), and the end of the chunk takes back what must still be held.
  // Kept in locals: stores through out may alias anything reached through c.
  const int32_t group_lines = c->group_lines;
  const size_t delay = static_cast<size_t>(c->delay);
  const line_end variant = c->variant;
  int32_t lines_seen = c->lines_seen;
  unsigned char* group = out;  // where the current group starts in out
  // pos is where the line feed itself would go; returns where the next byte goes.
  auto on_line_feed = [&](unsigned char* pos) {
    if (++lines_seen < group_lines) {
      *pos = '\n';
      return pos + 1;
    }
    lines_seen = 0;
    pos -= std::min(delay, static_cast<size_t>(pos - group));
    group = put_line_end(pos, variant);
    return group;
  };

  std::memcpy(out, c->held, static_cast<size_t>(c->held_len));
  const unsigned char* p = in;
  const unsigned char* const end = in + n;
  // A block at a time while another whole block follows it, so that the block
  // after any line feed can be loaded. Each block is stored whole; after a
  // line feed the rest of it is stored again where it now goes. The output
  // bound leaves room for what is stored past the end. Where p goes in out can
  // lie in front of out after a line feed (no byte is written there), so it is
  // kept as an offset.
  ptrdiff_t base = c->held_len;
  if (group_lines <= 1) {
    const ptrdiff_t cap = static_cast<ptrdiff_t>(delay);
    group = out + (variant == line_end::crlf
                       ? every_line_ends_a_group<Scan, 2>(p, end, out, base, cap)
                       : every_line_ends_a_group<Scan, 1>(p, end, out, base, cap));
  }
  while (static_cast<size_t>(end - p) >= 2 * block) {
    uint64_t m = Scan::mask(p);
    Scan::copy(out + base, p);
    for (; m != 0; m &= m - 1) {
      const int j = std::countr_zero(m);
      // Inside a group the line feed is already stored where it belongs.
      if (lines_seen + 1 < group_lines) {
        ++lines_seen;
        continue;
      }
      unsigned char* next = on_line_feed(out + (base + j));
      Scan::copy(next, p + j + 1);
      base = (next - out) - (j + 1);
    }
    p += block;
    base += block;
  }
  unsigned char* o = out + base;
  for (; p < end; ++p) {
    if (*p == '\n') {
      o = on_line_feed(o);
    } else {
      *o++ = *p;
    }
  }
  const size_t keep = std::min(delay, static_cast<size_t>(o - group));
  o -= keep;
  std::memcpy(c->held, o, keep);
  c->held_len = static_cast<int32_t>(keep);
  c->lines_seen = lines_seen;
  return o - out;
}

#ifdef TAVLEN_HAS_AVX2
TAVLEN_AVX2 size_t trim_avx2(trim_carry* c, const unsigned char* in, size_t n, unsigned char* out) {
  return trim_with<avx2_scan>(c, in, n, out);
}
#endif

}  // namespace

size_t trim_chunk(trim_carry* c, const unsigned char* in, size_t n, unsigned char* out) {
  // Asking costs more than AVX2 saves on a small file (a few cpuid traps in
  // a virtual machine): that keeps the scan every x86-64 processor has.
  if (c->scan == pass_scan::widest && n >= 65536) c->scan = widest_scan();
  switch (c->scan) {
#ifdef TAVLEN_HAS_AVX2
    case pass_scan::avx2:
      return trim_avx2(c, in, n, out);
#endif
    case pass_scan::plain:
      return trim_with<plain_scan>(c, in, n, out);
    default:
#ifdef __SSE2__
      return trim_with<sse2_scan>(c, in, n, out);
#else
      return trim_with<plain_scan>(c, in, n, out);
#endif
  }
}
