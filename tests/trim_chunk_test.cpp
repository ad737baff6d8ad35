#include "trim/trim_chunk.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

namespace {

struct settings {
  int32_t group_lines;
  int32_t cut_len;
  line_end variant;
};

// Feeds text in reads of the given sizes (cycled), as the job does with a file.
std::string block_pass(const settings& s, const std::string& text, std::vector<size_t> reads) {
  trim_carry carry;
  trim_start(&carry, s.group_lines, s.cut_len, s.variant);
  std::string out;
  std::vector<unsigned char> buf;
  size_t at = 0;
  for (size_t i = 0; at < text.size(); ++i) {
    const size_t n = std::min(reads[i % reads.size()], text.size() - at);
    buf.resize(trim_out_bound(n));
    const size_t made =
        trim_chunk(&carry, reinterpret_cast<const unsigned char*>(text.data()) + at, n, buf.data());
    EXPECT_LE(made, trim_out_bound(n));
    out.append(reinterpret_cast<const char*>(buf.data()), made);
    at += n;
  }
  return out;
}

std::string reference_pass(const settings& s, const std::string& text) {
  reference_carry carry;
  reference_start(&carry, s.group_lines, s.cut_len, s.variant);
  std::vector<unsigned char> buf(2 * text.size() + 1);
  const size_t made = reference_chunk(&carry, reinterpret_cast<const unsigned char*>(text.data()),
                                      text.size(), buf.data());
  return std::string(reinterpret_cast<const char*>(buf.data()), made);
}

TEST(trim_pass, worked_cases_both_ways) {
  constexpr auto lf = line_end::lf;
  constexpr auto crlf = line_end::crlf;
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
      {{1, 1, lf},
       std::string("ab\x07"
                   "cd\n"),
       std::string("ab\x07"
                   "c\n")},
      {{1, 1, lf}, "abc\nxyz", "ab\nxy"},
      {{-4, 0, lf}, "a\nb", "a\nb"},
      {{1, 200, lf}, std::string(130, 'x') + "\n", std::string(4, 'x') + "\n"},
      {{1, 126, lf}, std::string(130, 'x') + "\n", std::string(4, 'x') + "\n"},
      {{1, 125, lf}, std::string(130, 'x') + "\n", std::string(5, 'x') + "\n"},
  };
  for (const auto& c : cases) {
    const std::string label = testing::PrintToString(c.in) +
                              " N=" + std::to_string(c.s.group_lines) +
                              " K=" + std::to_string(c.s.cut_len);
    EXPECT_EQ(reference_pass(c.s, c.in), c.out) << label;
    EXPECT_EQ(block_pass(c.s, c.in, {1 << 20}), c.out) << label;
    EXPECT_EQ(block_pass(c.s, c.in, {1}), c.out) << label;
  }
}

// A line, or the bytes held back in front of its line feed, straddling two
// reads exactly.
TEST(trim_pass, lines_straddling_reads) {
  const std::string text = "0123456789,\r\nabcdefghij,\r\n";
  const settings s{1, 3, line_end::crlf};
  const std::string want = reference_pass(s, text);
  for (size_t first = 1; first < text.size(); ++first) {
    EXPECT_EQ(block_pass(s, text, {first, text.size()}), want) << "split at " << first;
  }
}

std::string random_text(std::mt19937& rng, size_t length) {
  static const unsigned char alphabet[] = {'\n', '\n', '\n', '\r', '\r', ',', 'a', 'b', 0, 7, 255};
  std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1);
  std::uniform_int_distribution<int> any(0, 255);
  std::string text(length, '\0');
  for (char& c : text) c = static_cast<char>(pick(rng) == 0 ? any(rng) : alphabet[pick(rng)]);
  return text;
}

TEST(trim_pass, block_pass_matches_byte_pass_on_random_input) {
  const int32_t cuts[] = {INT32_MIN, -7, -1, 0, 1, 2, 3, 5, 17, 63, 125, 126, 127, 500, INT32_MAX};
  const int32_t groups[] = {INT32_MIN, -1, 0, 1, 2, 3, 7, 40, INT32_MAX};
  std::mt19937 rng(20261206);
  std::uniform_int_distribution<size_t> length(0, 1200);
  // Tiny reads straddle lines and held bytes; longer ones take the
  // 64-byte-block path, which needs 128 bytes ahead.
  std::uniform_int_distribution<size_t> tiny(1, 7);
  std::uniform_int_distribution<size_t> longer(128, 300);
  int compared = 0;
  for (const int32_t cut : cuts) {
    for (const int32_t group : groups) {
      for (const line_end variant : {line_end::lf, line_end::crlf}) {
        const settings s{group, cut, variant};
        for (int round = 0; round < 6; ++round) {
          const std::string text = random_text(rng, length(rng));
          const std::vector<size_t> reads =
              round == 0
                  ? std::vector<size_t>{1u << 16}
                  : std::vector<size_t>{tiny(rng), longer(rng), tiny(rng), tiny(rng), longer(rng)};
          ASSERT_EQ(block_pass(s, text, reads), reference_pass(s, text))
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
