#include "trim/trim_chunk.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "trim/delay_window.h"

namespace {

int32_t window_len_for_cut(int32_t cut_len) {
  return static_cast<int32_t>(static_cast<uint32_t>(cut_len) + 1u);
}

unsigned char* put_line_end(unsigned char* out, line_end variant) {
  if (variant == line_end::crlf) *out++ = '\r';
  *out++ = '\n';
  return out;
}

uint64_t load_word(const unsigned char* p) {
  uint64_t w;
  std::memcpy(&w, p, sizeof w);
  return w;
}

void store_word(unsigned char* p, uint64_t w) {
  std::memcpy(p, &w, sizeof w);
}

// The high bit of every byte of w that is a line feed, and no other bit: the
// add cannot carry from one byte into the next.
uint64_t lf_bits(uint64_t w) {
  constexpr uint64_t low7 = 0x7f7f7f7f7f7f7f7full;
  const uint64_t x = w ^ 0x0a0a0a0a0a0a0a0aull;
  return ~(((x & low7) + low7) | x) & ~low7;
}

// Index in memory order of the first line feed that bits marks, and bits
// without it.
int first_lf(uint64_t bits) {
  if constexpr (std::endian::native == std::endian::little) return std::countr_zero(bits) >> 3;
  return std::countl_zero(bits) >> 3;
}

uint64_t drop_first_lf(uint64_t bits) {
  if constexpr (std::endian::native == std::endian::little) return bits & (bits - 1);
  return bits & ~(uint64_t{1} << (63 - std::countl_zero(bits)));
}

// Bytes are written out as soon as they arrive; a group-ending line feed then
// takes back the `delay` bytes in front of it (no more than the group has
// written), and the end of a chunk takes back what must still be held.
struct pass_state {
  trim_carry* c;
  unsigned char* group;  // where the current group starts in out
  size_t delay;
};

// pos is where the line feed itself would go; returns where the next byte goes.
unsigned char* on_line_feed(pass_state* s, unsigned char* pos) {
  if (++s->c->lines_seen < s->c->group_lines) {
    *pos = '\n';
    return pos + 1;
  }
  s->c->lines_seen = 0;
  pos -= std::min(s->delay, static_cast<size_t>(pos - s->group));
  pos = put_line_end(pos, s->c->variant);
  s->group = pos;
  return pos;
}

}  // namespace

int32_t delay_for_cut(int32_t cut_len) {
  const int32_t window_len = window_len_for_cut(cut_len);
  if (window_len <= 1) return 0;
  return std::min(window_len, win_slots - 1) - 1;
}

void trim_start(trim_carry* c, int32_t group_lines, int32_t cut_len, line_end variant) {
  c->group_lines = group_lines;
  c->delay = delay_for_cut(cut_len);
  c->variant = variant;
  c->lines_seen = 0;
  c->held_len = 0;
}

size_t trim_chunk(trim_carry* c, const unsigned char* in, size_t n, unsigned char* out) {
  std::memcpy(out, c->held, static_cast<size_t>(c->held_len));
  pass_state s{c, out, static_cast<size_t>(c->delay)};
  unsigned char* o = out + c->held_len;
  const unsigned char* p = in;
  const unsigned char* const end = in + n;
  // A word at a time while a whole word past the next one is still input, so
  // that the word after any line feed can be loaded. Each word is stored
  // whole; after a line feed the rest of it is stored again where it now goes.
  // The output bound leaves room for the bytes stored past the end.
  // Where p goes in out; after a line feed it can lie in front of out (never
  // a byte that is written), so it is kept as an offset.
  ptrdiff_t base = o - out;
  while (end - p >= 2 * 8) {
    const uint64_t w = load_word(p);
    store_word(out + base, w);
    for (uint64_t bits = lf_bits(w); bits != 0; bits = drop_first_lf(bits)) {
      const int j = first_lf(bits);
      unsigned char* next = on_line_feed(&s, out + base + j);
      store_word(next, load_word(p + j + 1));
      base = (next - out) - (j + 1);
    }
    p += 8;
    base += 8;
  }
  o = out + base;
  for (; p < end; ++p) {
    if (*p == '\n') {
      o = on_line_feed(&s, o);
    } else {
      *o++ = *p;
    }
  }
  const size_t keep = std::min(s.delay, static_cast<size_t>(o - s.group));
  o -= keep;
  std::memcpy(c->held, o, keep);
  c->held_len = static_cast<int32_t>(keep);
  return o - out;
}

void reference_start(reference_carry* c, int32_t group_lines, int32_t cut_len, line_end variant) {
  c->group_lines = group_lines;
  c->window_len = window_len_for_cut(cut_len);
  c->variant = variant;
  c->lines_seen = 0;
  the_window.window_len = c->window_len;
  win_reset(c->window_len, win_filler);
}

size_t reference_chunk(reference_carry* c, const unsigned char* in, size_t n, unsigned char* out) {
  unsigned char* o = out;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char byte = in[i];
    bool group_end = false;
    if (byte == '\n' && ++c->lines_seen >= c->group_lines) group_end = true;
    win_pop();
    win_push(byte);
    if (group_end) {
      o = put_line_end(o, c->variant);
      win_reset(c->window_len, win_filler);
      c->lines_seen = 0;
    } else {
      unsigned char oldest = 0;
      if (win_peek(&oldest) == 0) *o++ = oldest;
    }
  }
  return o - out;
}
