// make_input csv|text|line MIB: writes MIB MiB of a benchmark input to stdout.
// "line" is one line of MIB MiB, with its only line feed at the very end.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_input.h"

namespace {

bool put(const std::string& block) {
  return std::fwrite(block.data(), 1, block.size(), stdout) == block.size();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc == 3 ? argv[1] : "";
  if (kind != "csv" && kind != "text" && kind != "line") {
    std::fprintf(stderr, "usage: make_input csv|text|line MIB\n");
    return 2;
  }
  const long blocks = std::atol(argv[2]);
  const std::string block = kind == "csv"    ? bench_csv_block()
                            : kind == "text" ? bench_double_spaced_block()
                                             : bench_long_line_block(false);
  bool ok = true;
  for (long n = kind == "line" ? blocks - 1 : blocks; n > 0 && ok; --n) ok = put(block);
  if (ok && kind == "line" && blocks > 0) ok = put(bench_long_line_block(true));
  if (!ok || std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    std::perror("make_input");
    return 1;
  }
  return 0;
}
