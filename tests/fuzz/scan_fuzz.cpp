// The command-line scan on arbitrary arguments (the fuzz input split at NUL
// bytes) against a plain reading of the option rules written out here.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/driver.h"

namespace {

struct expected {
  int crlf_mode = 0;
  int keep_tmp = 0;
  int32_t group_lines = 1;
  int32_t cut_len = 1;
  std::string in_name;
  std::string out_name = "draft.txt";
  int wants_usage = 0;
};

bool all_digits(const std::string& s) {
  for (const char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int32_t saturated(const std::string& digits) {
  int64_t n = 0;
  for (const char c : digits) n = std::min<int64_t>(n * 10 + (c - '0'), INT32_MAX);
  return static_cast<int32_t>(n);
}

expected read_rules(const std::vector<std::string>& args) {
  expected e;
  bool have_input = false;
  for (const std::string& a : args) {
    if (a == "-r" || a == "-CRLF") {
      e.crlf_mode = 1;
      continue;
    }
    if (a == "-y") {
      e.keep_tmp = 1;
      continue;
    }
    if (a == "-m") {
      e.crlf_mode = 1;
      e.cut_len = 2;
      continue;
    }
    if (a == "-VC" || a == "-V") {
      e.wants_usage = a == "-VC" ? 2 : 1;
      return e;
    }
    const bool numeric =
        a.size() >= 2 && a[0] == '-' && (a[1] == 'x' || a[1] == 'w' || a[1] == 'u');
    if (numeric) {
      const std::string rest = a.substr(2);
      const bool fits = all_digits(rest);
      const int32_t n = fits ? saturated(rest) : 1;
      if (a[1] == 'x') {
        e.group_lines = n;
        if (fits) {
          e.crlf_mode = 1;
          e.cut_len = static_cast<int32_t>(static_cast<uint32_t>(2 * int64_t{n} - 1));
        }
      } else if (a[1] == 'w') {
        e.group_lines = n;
      } else {
        e.cut_len = n;
      }
      if (fits) continue;
    }
    if (!have_input) {
      e.in_name = a;
      have_input = true;
    } else {
      e.out_name = a;
    }
  }
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      args.emplace_back();
    } else {
      args.back() += static_cast<char>(data[i]);
    }
  }
  std::vector<const char*> argv = {"tavlen"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  const trim_settings got = scan_arguments(static_cast<int>(argv.size() - 1), argv.data());
  const expected want = read_rules(args);
  if (got.crlf_mode != want.crlf_mode || got.keep_tmp != want.keep_tmp ||
      got.group_lines != want.group_lines || got.cut_len != want.cut_len ||
      got.in_name != want.in_name || got.out_name != want.out_name ||
      got.wants_usage != want.wants_usage) {
    std::abort();
  }
  return 0;
}
