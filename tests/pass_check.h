// The block-wise pass, with the given line-feed scan, fed in reads of the given
// sizes (cycled; the first must not be 0) against the byte-at-a-time reference
// on the same bytes.
#pragma once

#include <algorithm>
#include <vector>

#include "reference_pass.h"
#include "trim/trim_chunk.h"

inline bool block_pass_matches(int32_t group_lines, int32_t cut_len, line_end variant,
                               const std::vector<size_t>& reads,
                               const std::vector<unsigned char>& text, pass_scan scan) {
  std::vector<unsigned char> want(2 * text.size()), got;
  reference_pass ref(group_lines, cut_len, variant);
  want.resize(ref.run(text.data(), text.size(), want.data()));
  trim_carry carry;
  trim_start(&carry, group_lines, cut_len, variant);
  carry.scan = scan;
  for (size_t at = 0, turn = 0, n; at < text.size(); at += n) {
    n = std::min(reads[turn++ % reads.size()], text.size() - at);
    // Exactly the read's bytes, so that the sanitizers see a read past them.
    const std::vector<unsigned char> chunk(text.begin() + at, text.begin() + at + n);
    // Bytes past the bound must stay as they are.
    std::vector<unsigned char> out(trim_out_bound(n) + 8, 0xa5);
    const size_t made = trim_chunk(&carry, chunk.data(), n, out.data());
    if (made > trim_out_bound(n) || std::count(out.end() - 8, out.end(), 0xa5) != 8) return false;
    got.insert(got.end(), out.begin(), out.begin() + made);
  }
  return got == want;
}
