// The command-line scan on arbitrary arguments (the fuzz input split at NUL
// bytes): what one more argument does to the settings before it (nothing,
// once -V or -VC has ended the scan).
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "cli/driver.h"

namespace {

command_line scan(std::vector<std::string> args, const char* more = nullptr) {
  if (more) args.emplace_back(more);
  std::vector<const char*> argv = {"tavlen"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  return scan_arguments(static_cast<int>(argv.size()), argv.data());
}

auto fields(const command_line& c) {
  const trim_settings& s = c.settings;
  return std::tie(s.crlf_mode, s.keep_tmp, s.group_lines, s.cut_len, s.in_name, s.out_name,
                  c.wants_usage, c.names, c.third_name);
}

// One more argument and what it sets, as the manual page tells it: c the
// CRLF variant, k -y, n a name, 1 or 2 the usage screen; -1 leaves a number.
struct step {
  const char *arg, *sets;
  int32_t group, cut;
};
// clang-format off
const step steps[] = {
    {"-y", "k", -1, -1}, {"-r", "c", -1, -1}, {"-m", "c", -1, 2}, {"-u7", "", -1, 7},
    {"-w7", "", 7, -1}, {"-x7", "c", 7, 13}, {"-u", "", -1, 0}, {"-w", "", 0, -1},
    {"-uz", "n", -1, 1}, {"-w-1", "n", 1, -1}, {"name", "n", -1, -1}, {"-V", "1", -1, -1},
    {"-VC", "2", -1, -1}, {"-u99999999999", "", -1, INT32_MAX},
    {"-x1073741824", "c", 1 << 30, INT32_MAX}};
// clang-format on

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args(1);
  for (size_t i = 0; i < size; ++i) data[i] == 0 ? args.emplace_back() : args.back() += data[i];
  const command_line before = scan(args);
  for (const step& m : steps) {
    command_line want = before;
    if (before.wants_usage == 0) {
      const std::string sets = m.sets;
      want.settings.crlf_mode |= sets == "c";
      want.settings.keep_tmp |= sets == "k";
      want.wants_usage = sets == "1" ? 1 : sets == "2" ? 2 : 0;
      if (m.group >= 0) want.settings.group_lines = m.group;
      if (m.cut >= 0) want.settings.cut_len = m.cut;
      std::string* names[] = {&want.settings.in_name, &want.settings.out_name, &want.third_name};
      if (sets == "n" && ++want.names <= 3) *names[want.names - 1] = m.arg;
    }
    if (fields(scan(args, m.arg)) != fields(want)) std::abort();
  }
  return 0;
}
