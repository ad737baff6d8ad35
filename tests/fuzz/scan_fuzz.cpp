// The command-line scan on arbitrary arguments (the fuzz input split at NUL
// bytes): what one more argument does to the settings of those before it,
// and -V or -VC ending the scan.
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "cli/driver.h"

namespace {

trim_settings scan(const std::vector<std::string>& args) {
  std::vector<const char*> argv = {"tavlen"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return scan_arguments(static_cast<int>(argv.size()), argv.data());
}

auto fields(const trim_settings& s) {
  return std::tie(s.crlf_mode, s.keep_tmp, s.group_lines, s.cut_len, s.in_name, s.out_name,
                  s.wants_usage, s.names, s.third_name);
}

bool same(const trim_settings& a, const trim_settings& b) {
  return fields(a) == fields(b);
}

// The settings `s` with one more argument `a`, one of `more` below, as the
// manual page tells it.
trim_settings after(trim_settings s, const std::string& a) {
  if (s.wants_usage != 0) return s;
  if (a == "-V" || a == "-VC") s.wants_usage = a == "-V" ? 1 : 2;
  if (a == "-y") s.keep_tmp = true;
  if (a == "-r" || a == "-m" || a[1] == 'x') s.crlf_mode = true;
  if (a == "-m") s.cut_len = 2;
  if (a == "-u7") s.cut_len = 7;
  if (a == "-w7") s.group_lines = 7;
  if (a == "-x7") s.group_lines = 7, s.cut_len = 13;
  if (a == "-u99999999999") s.cut_len = 2147483647;
  if (a == "-x1073741824") s.group_lines = 1073741824, s.cut_len = 2147483647;
  if (a == "-u" || a == "-w") (a[1] == 'u' ? s.cut_len : s.group_lines) = 0;
  if (a == "-uz") s.cut_len = 1;
  if (a == "-w-1") s.group_lines = 1;
  if (a == "-uz" || a == "-w-1" || a == "name") {
    std::string* names[] = {&s.in_name, &s.out_name, &s.third_name};
    if (++s.names <= 3) *names[s.names - 1] = a;
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) data[i] == 0 ? args.emplace_back() : args.back() += data[i];
  const trim_settings before = scan(args);
  // The scan stops at -V or -VC: nothing after it counts.
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "-V" || args[i] == "-VC") {
      const trim_settings upto = scan({args.begin(), args.begin() + i + 1});
      if (!same(before, upto) || before.wants_usage != (args[i] == "-V" ? 1 : 2)) std::abort();
      break;
    }
  }
  static const char* const more[] = {"-V",   "-VC",           "-y",          "-r", "-m",  "-u7",
                                     "-w7",  "-x7",           "-u",          "-w", "-uz", "-w-1",
                                     "name", "-u99999999999", "-x1073741824"};
  for (const char* a : more) {
    std::vector<std::string> longer = args;
    longer.emplace_back(a);
    if (!same(scan(longer), after(before, a))) std::abort();
  }
  return 0;
}
