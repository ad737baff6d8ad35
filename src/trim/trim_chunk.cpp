#include "trim/trim_chunk.h"

#include <algorithm>
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

// Writes what falls out of the delay when n more bytes of the group arrive:
// all of held + s except its newest `delay` bytes. Returns the new end of out
// and how many of those bytes came from held.
unsigned char* release(trim_carry* c, const unsigned char* s, size_t n, unsigned char* out,
                       size_t* from_held) {
  const size_t total = static_cast<size_t>(c->held_len) + n;
  const size_t delay = static_cast<size_t>(c->delay);
  const size_t emit = total > delay ? total - delay : 0;
  *from_held = std::min(static_cast<size_t>(c->held_len), emit);
  std::memcpy(out, c->held, *from_held);
  std::memcpy(out + *from_held, s, emit - *from_held);
  return out + emit;
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
  unsigned char* o = out;
  const unsigned char* const end = in + n;
  const unsigned char* group = in;  // first byte of the current group in this chunk
  const unsigned char* p = in;
  size_t from_held = 0;
  while (p < end) {
    const auto* lf = static_cast<const unsigned char*>(std::memchr(p, '\n', end - p));
    if (lf == nullptr) break;
    p = lf + 1;
    if (++c->lines_seen < c->group_lines) continue;
    // The line feed and the `delay` bytes in front of it are dropped.
    o = release(c, group, lf - group, o, &from_held);
    o = put_line_end(o, c->variant);
    c->held_len = 0;
    c->lines_seen = 0;
    group = p;
  }
  const size_t rest = end - group;
  o = release(c, group, rest, o, &from_held);
  // Keep the newest bytes of held + rest that are still inside the delay.
  const size_t old_held = static_cast<size_t>(c->held_len) - from_held;
  const size_t from_rest = std::min(rest, static_cast<size_t>(c->delay) - old_held);
  std::memmove(c->held, c->held + from_held, old_held);
  std::memcpy(c->held + old_held, end - from_rest, from_rest);
  c->held_len = static_cast<int32_t>(old_held + from_rest);
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
