// The built program, run as a user runs it on the cases in data/*_cases.txt:
// status, standard error and every file left in its directory, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

struct run_case {
  std::string title, only;                        // only: "linux", "windows" or ""
  std::vector<std::vector<std::string>> setup{};  // {directive, name, bytes or target}
  std::vector<std::string> args{};
  long limit = -1;
  long status = -1;
  std::string err{};
  e2e::files after{};
};

void PrintTo(const run_case& c, std::ostream* os) {
  *os << c.title;
}

// C escapes and {N*TEXT} repeats; "" is empty; {dir} is left for the run.
std::string bytes(const std::string& text, const std::string& where) {
  const std::string named = "n\nr\rt\t\\\\";  // each escape letter, then its byte
  std::string out;
  for (size_t i = 0; i < text.size() && text != "\"\""; ++i) {
    const size_t star = text.find('*', i), end = text.find('}', i);
    if (text[i] == '{' && std::isdigit(text[i + 1]) && star < end && end != std::string::npos) {
      const std::string one = bytes(text.substr(star + 1, end - star - 1), where);
      for (long n = std::stol(text.substr(i + 1, star - i - 1)); n > 0; --n) out += one;
      i = end;
    } else if (text[i] != '\\') {
      out += text[i];
    } else if (text[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)), i += 3;
    } else if (const size_t at = named.find(text[++i]); at % 2 == 0 && at < named.size()) {
      out += named[at + 1];
    } else {
      throw std::runtime_error(where + ": unknown escape");
    }
  }
  return out;
}

std::vector<run_case> load(const std::string& file, const std::string& only) {
  std::ifstream in(std::string(TAVLEN_TEST_DATA) + "/" + file);
  if (!in) throw std::runtime_error(file + " cannot be read");
  std::vector<run_case> cases;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string where = file + ":" + std::to_string(number);
    if (line.empty() || line[0] == '#') continue;
    const size_t space = std::min(line.find(' '), line.size());
    const std::string key = line.substr(0, space),
                      rest = line.substr(std::min(space + 1, line.size()));
    const size_t gap = std::min(rest.find(' '), rest.size());
    const std::string first = bytes(rest.substr(0, gap), where);
    const std::string second = bytes(rest.substr(std::min(gap + 1, rest.size())), where);
    if (key == "case") cases.push_back({.title = rest, .only = only});
    if (cases.empty()) throw std::runtime_error(where + ": not in a case");
    run_case& c = cases.back();
    if (key == "args") {
      std::istringstream words(rest);
      for (std::string w; words >> w;) c.args.push_back(bytes(w, where));
    } else if (key == "status" || key == "limit") {
      (key == "status" ? c.status : c.limit) = std::stol(rest);
    } else if (key == "err") {
      c.err += bytes(rest, where);
    } else if (key == "left") {
      c.after[first] = second;
    } else if (key == "file" || key == "mkdir" || key == "hardlink" || key == "symlink") {
      c.setup.push_back({key, first, second});
    } else if (key != "case") {
      throw std::runtime_error(where + ": unknown directive " + key);
    }
  }
  return cases;
}

// Wine shows the root of the Linux file system as drive Z:.
std::string with_dir(std::string text, const fs::path& dir) {
  std::string spelled = dir.string();
  if (e2e::windows_program()) {
    spelled = "Z:" + spelled;
    std::replace(spelled.begin(), spelled.end(), '/', '\\');
  }
  for (size_t at; (at = text.find("{dir}")) != std::string::npos;) text.replace(at, 5, spelled);
  return text;
}

class cases : public testing::TestWithParam<run_case> {};

TEST_P(cases, run) {
  const run_case& c = GetParam();
  if (!c.only.empty() && (c.only == "windows") != e2e::windows_program())
    GTEST_SKIP() << "a case for " << c.only << " only";
  e2e::scratch_dir dir;
  for (const auto& s : c.setup) {
    const fs::path at = dir.path() / s[1];
    if (s[0] == "file") dir.write(s[1], s[2]);
    if (s[0] == "mkdir") fs::create_directories(at);
    if (s[0] == "hardlink") fs::create_hard_link(dir.path() / s[2], at);
    if (s[0] == "symlink") fs::create_symlink(s[2], at);
  }
  std::vector<std::string> args;
  for (const std::string& a : c.args) args.push_back(with_dir(a, dir.path()));
  e2e::expect_run(dir.path(), args, static_cast<int>(c.status),
                  e2e::platform_lines(with_dir(c.err, dir.path())), c.after, {c.limit});
}

std::string case_name(const testing::TestParamInfo<run_case>& info) {
  std::string name;
  for (const unsigned char c : info.param.title) {
    if (std::isalnum(c)) name += static_cast<char>(c);
    if (!std::isalnum(c) && !name.empty() && name.back() != '_') name += '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(e2e, cases, testing::ValuesIn(load("e2e_cases.txt", "")), case_name);
INSTANTIATE_TEST_SUITE_P(fault, cases, testing::ValuesIn(load("fault_cases.txt", "linux")),
                         case_name);
INSTANTIATE_TEST_SUITE_P(windows, cases, testing::ValuesIn(load("windows_cases.txt", "windows")),
                         case_name);

}  // namespace
