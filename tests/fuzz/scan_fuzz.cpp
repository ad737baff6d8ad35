// The command-line scan on arbitrary arguments (the fuzz input split at NUL
// bytes) against a plain reading of the option rules written out here.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "cli/driver.h"

namespace {

struct expected {
  int crlf_mode = 0, keep_tmp = 0;
  int32_t group_lines = 1, cut_len = 1;
  std::string in_name, out_name = "draft.txt";
  int wants_usage = 0;
};

expected read_rules(const std::vector<std::string>& args) {
  expected e;
  bool have_input = false;
  for (const std::string& a : args) {
    if (a == "-r" || a == "-CRLF" || a == "-m") e.crlf_mode = 1;
    if (a == "-m") e.cut_len = 2;
    if (a == "-y") e.keep_tmp = 1;
    if (a == "-r" || a == "-CRLF" || a == "-m" || a == "-y") continue;
    if (a == "-VC" || a == "-V") {
      e.wants_usage = a == "-VC" ? 2 : 1;
      return e;
    }
    const std::string rest = a.size() >= 2 ? a.substr(2) : "";
    const bool numeric =
        a.size() >= 2 && a[0] == '-' && (a[1] == 'x' || a[1] == 'w' || a[1] == 'u');
    const bool fits =
        std::all_of(rest.begin(), rest.end(), [](char c) { return c >= '0' && c <= '9'; });
    int64_t n = fits ? 0 : 1;
    for (const char c : fits ? rest : "") n = std::min<int64_t>(n * 10 + (c - '0'), INT32_MAX);
    if (numeric && a[1] != 'u') e.group_lines = static_cast<int32_t>(n);
    if (numeric && a[1] == 'u') e.cut_len = static_cast<int32_t>(n);
    if (numeric && a[1] == 'x' && fits) {
      e.crlf_mode = 1;
      e.cut_len = static_cast<int32_t>(static_cast<uint32_t>(2 * n - 1));
    }
    if (numeric && fits) continue;
    (have_input ? e.out_name : e.in_name) = a;
    have_input = true;
  }
  return e;
}

auto fields(const auto& s) {
  return std::tie(s.crlf_mode, s.keep_tmp, s.group_lines, s.cut_len, s.in_name, s.out_name,
                  s.wants_usage);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) args.emplace_back();
    if (data[i] != 0) args.back() += static_cast<char>(data[i]);
  }
  std::vector<const char*> argv = {"tavlen"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  const trim_settings got = scan_arguments(static_cast<int>(argv.size() - 1), argv.data());
  if (fields(got) != fields(read_rules(args))) std::abort();
  return 0;
}
