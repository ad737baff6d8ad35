// The trimming pass over one chunk of input at a time. Whatever a group still
// holds back at the end of a chunk is carried to the next, so feeding a file
// in chunks of any size gives exactly what one pass over all its bytes gives.
#pragma once

#include <cstddef>
#include <cstdint>

enum class line_end { lf, crlf };

// The most bytes cut in front of a group-ending line feed, whatever the cut.
inline constexpr int32_t max_delay = 126;

// How the pass looks for line feeds; each gives the same bytes. trim_start
// takes `widest`: the widest the processor has, asked for at the first chunk
// large enough to repay asking. Tests may take any of the others.
enum class pass_scan { plain, sse2, avx2, widest };
// Asks the processor once; never `widest`.
pass_scan widest_scan();

struct trim_carry {
  int32_t group_lines;  // line feeds that close a group (values below 1 act as 1)
  int32_t delay;        // bytes cut in front of a group-ending line feed, 0..max_delay
  line_end variant;
  pass_scan scan;
  int32_t lines_seen;  // line feeds since the last group end
  int32_t held_len;
  unsigned char held[max_delay];  // the group's newest bytes, not yet written
};
// A chunk ends holding back up to `delay` bytes, which must fit.
static_assert(sizeof(trim_carry::held) == max_delay);

// A chunk of n bytes never yields more than this many: the held bytes go
// first, and a line feed can grow into CR LF.
inline constexpr size_t trim_out_bound(size_t n) {
  return 2 * n + max_delay + 1;
}

// The delay that a window of cut_len + 1 entries (32-bit wrapping) gives.
int32_t delay_for_cut(int32_t cut_len);

void trim_start(trim_carry* c, int32_t group_lines, int32_t cut_len, line_end variant);

// Trims in[0, n) into out, which has room for trim_out_bound(n) bytes; returns
// the bytes written. Block-wise: 64 bytes are searched and copied at once.
size_t trim_chunk(trim_carry* c, const unsigned char* in, size_t n, unsigned char* out);
