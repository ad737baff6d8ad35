// The command-line scan on arbitrary arguments (the fuzz input split at NUL
// bytes) against a plain reading of the option rules written out here.
#include <algorithm>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "cli/driver.h"

namespace {

trim_settings read_rules(const std::vector<std::string>& args) {
  trim_settings e{false, false, 1, 1, "", "draft.txt", 0, "", 0};
  for (const std::string& a : args) {
    if (a == "-V" || a == "-VC") return e.wants_usage = a == "-V" ? 1 : 2, e;
    const bool crlf = a == "-r" || a == "-CRLF" || a == "-m";
    const bool numeric = a.size() >= 2 && a[0] == '-' && std::string("xwu").find(a[1]) < 3;
    const bool exact = numeric && a.find_first_not_of("0123456789", 2) == std::string::npos;
    int64_t n = exact ? 0 : 1;
    for (size_t i = 2; exact && i < a.size(); ++i)
      n = std::min<int64_t>(n * 10 + a[i] - '0', INT32_MAX);
    if (numeric) (a[1] == 'u' ? e.cut_len : e.group_lines) = static_cast<int32_t>(n);
    if (exact && a[1] == 'x') e.cut_len = static_cast<int32_t>(static_cast<uint32_t>(2 * n - 1));
    if (a == "-m") e.cut_len = 2;
    e.crlf_mode |= crlf || (exact && a[1] == 'x');
    e.keep_tmp |= a == "-y";
    if (!exact && !crlf && a != "-y") {
      std::string* names[] = {&e.in_name, &e.out_name, &e.third_name};
      if (++e.names <= 3) *names[e.names - 1] = a;
    }
  }
  return e;
}

auto fields(const trim_settings& s) {
  return std::tie(s.crlf_mode, s.keep_tmp, s.group_lines, s.cut_len, s.in_name, s.out_name,
                  s.wants_usage, s.names, s.third_name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) data[i] == 0 ? args.emplace_back() : args.back() += data[i];
  std::vector<const char*> argv = {"tavlen"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  const trim_settings got = scan_arguments(static_cast<int>(argv.size()), argv.data());
  if (fields(got) != fields(read_rules(args))) std::abort();
  return 0;
}
