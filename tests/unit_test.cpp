// What the end-to-end cases cannot reach: the block-wise pass against the
// byte-at-a-time reference.
#include <random>

#include <gtest/gtest.h>

#include "pass_check.h"

namespace {

TEST(trim_pass, block_pass_matches_byte_pass_on_random_input) {
  const int32_t settings[] = {INT32_MIN, -7, -1,  0,   1,   2,   3,        5,
                              17,        63, 125, 126, 127, 500, INT32_MAX};
  const unsigned char alphabet[] = {'\n', '\n', '\n', '\r', '\r', ',', 'a', 0, 7, 255};
  std::mt19937 rng(20261206);
  for (const int32_t group : settings)
    for (const int32_t cut : settings)
      for (int round = 0; round < 8; ++round) {
        const line_end variant = round % 2 ? line_end::crlf : line_end::lf;
        std::vector<unsigned char> text(rng() % 1200);
        for (unsigned char& c : text) c = rng() % 8 ? alphabet[rng() % sizeof alphabet] : rng();
        // Tiny and empty reads straddle lines and held bytes; reads of 128
        // bytes and more take the 64-byte blocks.
        std::vector<size_t> reads = {1 + rng() % 7, 128 + rng() % 200, rng() % 8, 1 + rng() % 7};
        if (round < 2) reads = {1 << 16};
        ASSERT_TRUE(block_pass_matches(group, cut, variant, reads, text))
            << "N=" << group << " K=" << cut << " crlf=" << round % 2 << " reads " << reads[0]
            << " " << reads[1] << " input " << testing::PrintToString(text);
      }
}

}  // namespace
