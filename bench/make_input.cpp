// make_input csv|text MIB: writes MIB MiB of a benchmark input to stdout.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_input.h"

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "csv") != 0 && std::strcmp(argv[1], "text") != 0)) {
    std::fprintf(stderr, "usage: make_input csv|text MIB\n");
    return 2;
  }
  const std::string block =
      std::strcmp(argv[1], "csv") == 0 ? bench_csv_block() : bench_double_spaced_block();
  for (long n = std::atol(argv[2]); n > 0; --n) {
    if (std::fwrite(block.data(), 1, block.size(), stdout) != block.size()) {
      std::perror("make_input");
      return 1;
    }
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::perror("make_input");
    return 1;
  }
  return 0;
}
