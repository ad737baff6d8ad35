// The benchmark inputs, made the same way by the pass benchmark and by
// make_input (which compare.sh runs): a 1 MiB block of lines from a fixed
// generator, repeated, so every run on every machine sees the same bytes.
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

// Lines of 3 to 8 comma-terminated fields, ending in ",\r\n".
inline std::string bench_csv_block() {
  bench_lcg r;
  std::string block;
  while (block.size() < bench_block_size - 200) {
    for (uint64_t n = 3 + r.next() % 6; n > 0; --n) block += bench_word(r, 9) + ",";
    block += "\r\n";
  }
  return bench_pad(block, ",\r\n");
}

// Sentences of 4 to 15 words, each followed by an empty line, all CR LF.
inline std::string bench_double_spaced_block() {
  bench_lcg r;
  std::string block;
  while (block.size() < bench_block_size - 200) {
    for (uint64_t n = 4 + r.next() % 12; n > 0; --n) block += bench_word(r, 9) + " ";
    block += ".\r\n\r\n";
  }
  return bench_pad(block, ".\r\n\r\n");
}
