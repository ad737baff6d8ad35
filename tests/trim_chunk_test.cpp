#include "trim/trim_chunk.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

struct settings {
  int32_t group_lines, cut_len;
  line_end variant;
};

const unsigned char* bytes_of(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// Feeds text in reads of the given sizes (cycled), as the job does with a file.
std::string block_pass(const settings& s, const std::string& text, std::vector<size_t> reads) {
  trim_carry carry;
  trim_start(&carry, s.group_lines, s.cut_len, s.variant);
  std::string out;
  for (size_t i = 0, at = 0, n; at < text.size(); ++i, at += n) {
    n = std::min(reads[i % reads.size()], text.size() - at);
    std::vector<unsigned char> buf(trim_out_bound(n));
    const size_t made = trim_chunk(&carry, bytes_of(text) + at, n, buf.data());
    EXPECT_LE(made, buf.size());
    out.append(buf.begin(), buf.begin() + static_cast<ptrdiff_t>(made));
  }
  return out;
}

std::string reference_pass(const settings& s, const std::string& text) {
  reference_carry carry;
  reference_start(&carry, s.group_lines, s.cut_len, s.variant);
  std::vector<unsigned char> buf(2 * text.size() + 1);
  buf.resize(reference_chunk(&carry, bytes_of(text), text.size(), buf.data()));
  return std::string(buf.begin(), buf.end());
}

TEST(trim_pass, worked_cases_both_ways_split_anywhere) {
  constexpr auto lf = line_end::lf;
  constexpr auto crlf = line_end::crlf;
  const std::string x130 = std::string(130, 'x') + "\n";
  const struct {
    settings s;
    std::string in, out;
  } cases[] = {
      {{1, 1, lf}, "abc\ndef\n", "ab\nde\n"},
      {{1, 2, crlf}, "a,b,\r\nc,d,\r\n", "a,b\r\nc,d\r\n"},
      {{1, 1, crlf}, "ab\r\ncd\n\n", "ab\r\nc\r\n\r\n"},
      {{2, 3, crlf}, "line1\r\n\r\nline2\r\n\r\n", "line1\r\nline2\r\n"},
      {{2, 3, lf}, "line1\r\n\r\nline2\r\n\r\n", "line1\nline2\n"},
      {{0, -1, crlf}, "ab\ncd\r\n", "ab\r\ncd\r\r\n"},
      {{1, INT32_MAX, crlf}, "ab\ncd\r\n", "ab\r\ncd\r\r\n"},
      {{2, 1, lf}, "a\nb\nc\n", "a\n\nc"},
      {{1, 1, lf}, "ab\7cd\n", "ab\7c\n"},
      {{1, 1, lf}, "abc\nxyz", "ab\nxy"},
      {{-4, 0, lf}, "a\nb", "a\nb"},
      {{1, 200, lf}, x130, "xxxx\n"},
      {{1, 126, lf}, x130, "xxxx\n"},
      {{1, 125, lf}, x130, "xxxxx\n"},
      {{1, 3, crlf}, "0123456789,\r\nabcdefghij,\r\n", "012345678\r\nabcdefghi\r\n"},
  };
  for (const auto& [s, in, out] : cases) {
    SCOPED_TRACE(testing::PrintToString(in) + " N=" + std::to_string(s.group_lines) +
                 " K=" + std::to_string(s.cut_len));
    EXPECT_EQ(reference_pass(s, in), out);
    EXPECT_EQ(block_pass(s, in, {1 << 20}), out);
    EXPECT_EQ(block_pass(s, in, {1}), out);
    // A line, or the bytes held back in front of its line feed, straddling
    // two reads exactly.
    for (size_t first = 1; first < in.size(); ++first)
      EXPECT_EQ(block_pass(s, in, {first, in.size()}), out) << "split at " << first;
  }
}

TEST(trim_pass, block_pass_matches_byte_pass_on_random_input) {
  const int32_t cuts[] = {INT32_MIN, -7, -1, 0, 1, 2, 3, 5, 17, 63, 125, 126, 127, 500, INT32_MAX};
  const int32_t groups[] = {INT32_MIN, -1, 0, 1, 2, 3, 7, 40, INT32_MAX};
  const unsigned char alphabet[] = {'\n', '\n', '\n', '\r', '\r', ',', 'a', 'b', 0, 7, 255};
  std::mt19937 rng(20261206);
  std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1), any(0, 255);
  std::uniform_int_distribution<size_t> length(0, 1200);
  // Tiny reads straddle lines and held bytes; longer ones take the
  // 64-byte-block path, which needs 128 bytes ahead.
  std::uniform_int_distribution<size_t> tiny(1, 7), longer(128, 300);
  int compared = 0;
  for (const int32_t cut : cuts) {
    for (const int32_t group : groups) {
      for (const line_end variant : {line_end::lf, line_end::crlf}) {
        for (int round = 0; round < 6; ++round) {
          std::string text(length(rng), '\0');
          for (char& c : text)
            c = static_cast<char>(pick(rng) == 0 ? any(rng) : alphabet[pick(rng)]);
          std::vector<size_t> reads = {tiny(rng), longer(rng), tiny(rng), tiny(rng), longer(rng)};
          if (round == 0) reads = {1u << 16};
          ASSERT_EQ(block_pass({group, cut, variant}, text, reads),
                    reference_pass({group, cut, variant}, text))
              << "N=" << group << " K=" << cut << " crlf=" << (variant == line_end::crlf)
              << " input " << testing::PrintToString(text);
          ++compared;
        }
      }
    }
  }
  EXPECT_EQ(compared, 15 * 9 * 2 * 6);
}

}  // namespace
