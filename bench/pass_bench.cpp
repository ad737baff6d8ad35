// The pass alone, in memory: no files, no page cache, only trim_chunk over
// the same inputs that bench/compare.sh feeds the program.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "../tests/reference_pass.h"
#include "bench_input.h"
#include "trim/trim_chunk.h"
#include "trim/trim_job.h"

namespace {

constexpr int blocks = 100;

std::string repeat_block(const std::string& block) {
  std::string all;
  all.reserve(block.size() * blocks);
  for (int i = 0; i < blocks; ++i) all += block;
  return all;
}

const std::string& csv() {
  static const std::string text = repeat_block(bench_csv_block());
  return text;
}

const std::string& double_spaced() {
  static const std::string text = repeat_block(bench_double_spaced_block());
  return text;
}

void run_pass(benchmark::State& state, const std::string& text, int32_t group_lines,
              int32_t cut_len) {
  const size_t read_size = static_cast<size_t>(state.range(0));
  std::vector<unsigned char> out(trim_out_bound(read_size));
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  for (auto _ : state) {
    trim_carry carry;
    trim_start(&carry, group_lines, cut_len, line_end::crlf);
    size_t made = 0;
    for (size_t at = 0; at < text.size(); at += read_size) {
      made += trim_chunk(&carry, in + at, std::min(read_size, text.size() - at), out.data());
      benchmark::DoNotOptimize(out.data());
    }
    benchmark::DoNotOptimize(made);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The floor for any pass that must find every line feed.
void run_memchr(benchmark::State& state, const std::string& text) {
  const char* const end = text.data() + text.size();
  for (auto _ : state) {
    size_t lines = 0;
    for (const char* p = text.data();; ++p) {
      p = static_cast<const char*>(std::memchr(p, '\n', end - p));
      if (p == nullptr) break;
      ++lines;
    }
    benchmark::DoNotOptimize(lines);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void run_reference(benchmark::State& state, const std::string& text, int32_t group_lines,
                   int32_t cut_len) {
  std::vector<unsigned char> out(2 * bench_block_size);
  const auto* in = reinterpret_cast<const unsigned char*>(text.data());
  for (auto _ : state) {
    reference_pass pass(group_lines, cut_len, line_end::crlf);
    for (size_t at = 0; at < text.size(); at += bench_block_size) {
      pass.run(in + at, bench_block_size, out.data());
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// -m: one line per group, the separator and CR in front of each LF cut.
void csv_trim_chunk(benchmark::State& state) {
  run_pass(state, csv(), 1, 2);
}
void csv_memchr(benchmark::State& state) {
  run_memchr(state, csv());
}
void csv_reference_chunk(benchmark::State& state) {
  run_reference(state, csv(), 1, 2);
}
// -x2: two lines per group, the CR LF CR in front of the second LF cut.
void text_trim_chunk(benchmark::State& state) {
  run_pass(state, double_spaced(), 2, 3);
}
void text_memchr(benchmark::State& state) {
  run_memchr(state, double_spaced());
}

}  // namespace

BENCHMARK(csv_trim_chunk)->Arg(default_read_size)->Unit(benchmark::kMillisecond);
BENCHMARK(csv_memchr)->Unit(benchmark::kMillisecond);
BENCHMARK(csv_reference_chunk)->Unit(benchmark::kMillisecond);
BENCHMARK(text_trim_chunk)->Arg(default_read_size)->Unit(benchmark::kMillisecond);
BENCHMARK(text_memchr)->Unit(benchmark::kMillisecond);
