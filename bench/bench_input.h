// The benchmark inputs, made the same way by the pass benchmark and by
// make_input (which compare.sh runs): a 1 MiB block of lines from a fixed
// generator, repeated, so every run on every machine sees the same bytes.
// The long line is the exception: its last block alone ends in a line feed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

inline constexpr size_t bench_block_size = size_t{1} << 20;

struct bench_lcg {
  uint64_t x = 12345;
  uint64_t next() {
    x = (x * 1103515245 + 12345) % 2147483648;
    return x >> 8;
  }
};

inline std::string bench_word(bench_lcg& r, int max_len) {
  std::string w;
  for (uint64_t n = 1 + r.next() % max_len; n > 0; --n) w += static_cast<char>('a' + r.next() % 26);
  return w;
}

// Pads the last line so the block is exactly bench_block_size bytes.
inline std::string bench_pad(std::string block, const std::string& line_end) {
  return block + std::string(bench_block_size - block.size() - line_end.size(), 'z') + line_end;
}

// Lines of `least` to `least + spread - 1` words, each followed by `after_word`;
// the last line is padded and ends in `last_end`.
inline std::string bench_lines(uint64_t least, uint64_t spread, const char* after_word,
                               const char* line_end, const char* last_end) {
  bench_lcg r;
  std::string block;
  while (block.size() < bench_block_size - 200) {
    for (uint64_t n = least + r.next() % spread; n > 0; --n) block += bench_word(r, 9) + after_word;
    block += line_end;
  }
  return bench_pad(block, last_end);
}

// Lines of 3 to 8 comma-terminated fields, ending in ",\r\n".
inline std::string bench_csv_block() {
  return bench_lines(3, 6, ",", "\r\n", ",\r\n");
}

// Sentences of 4 to 15 words, each followed by an empty line, all CR LF.
inline std::string bench_double_spaced_block() {
  return bench_lines(4, 12, " ", ".\r\n\r\n", ".\r\n\r\n");
}

// Comma-terminated words with no line feed: a piece of one long line. The
// last block of the line ends in ",\r\n", like a CSV line.
inline std::string bench_long_line_block(bool last) {
  bench_lcg r;
  std::string block;
  while (block.size() < bench_block_size - 200) block += bench_word(r, 9) + ",";
  return bench_pad(block, last ? ",\r\n" : ",");
}
