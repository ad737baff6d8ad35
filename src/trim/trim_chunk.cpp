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
  c->lines_seen = 0;
  c->held_len = 0;
}

size_t trim_chunk(trim_carry* c, const unsigned char* in, size_t n, unsigned char* out) {
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
  while (static_cast<size_t>(end - p) >= 2 * block) {
    uint64_t m = lf_mask(p);
    std::memcpy(out + base, p, block);
    for (; m != 0; m &= m - 1) {
      const int j = std::countr_zero(m);
      // Inside a group the line feed is already stored where it belongs.
      if (lines_seen + 1 < group_lines) {
        ++lines_seen;
        continue;
      }
      unsigned char* next = on_line_feed(out + (base + j));
      std::memcpy(next, p + j + 1, block);
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
