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
  std::string title, only;                                 // only: "linux", "windows" or ""
  std::vector<std::pair<std::string, std::string>> lines;  // directive, the rest of its line
};

void PrintTo(const run_case& c, std::ostream* os) {
  *os << c.title;
}

// C escapes and {N*TEXT} repeats; "" is empty; {dir} is left for the run.
std::string bytes(const std::string& text) {
  const std::string named = "n\nr\rt\t\\\\";  // each escape letter, then its byte
  std::string out;
  for (size_t i = 0; i < text.size() && text != "\"\""; ++i) {
    const size_t star = text.find('*', i), end = text.find('}', i);
    if (text[i] == '{' && std::isdigit(text[i + 1]) && star < end && end != std::string::npos) {
      const std::string one = bytes(text.substr(star + 1, end - star - 1));
      for (long n = std::stol(text.substr(i + 1, star - i - 1)); n > 0; --n) out += one;
      i = end;
    } else if (text[i] != '\\') {
      out += text[i];
    } else if (text[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)), i += 3;
    } else if (const size_t at = named.find(text[++i]); at % 2 == 0 && at < named.size()) {
      out += named[at + 1];
    } else {
      throw std::runtime_error("unknown escape in " + text);
    }
  }
  return out;
}

std::vector<run_case> load(const std::string& file, const std::string& only) {
  std::ifstream in(std::string(TAVLEN_TEST_DATA) + "/" + file);
  if (!in) throw std::runtime_error(file + " cannot be read");
  std::vector<run_case> cases;
  for (std::string line; std::getline(in, line);) {
    const size_t space = std::min(line.find(' '), line.size());
    const std::string key = line.substr(0, space),
                      rest = line.substr(std::min(space + 1, line.size()));
    if (key == "case") cases.push_back({rest, only, {}});
    if (key == "case" || key.empty() || key[0] == '#') continue;
    if (cases.empty()) throw std::runtime_error(file + ": " + line + " is outside a case");
    cases.back().lines.emplace_back(key, rest);
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
  std::vector<std::string> args;
  e2e::run_options options;
  int status = -1;
  std::string err;
  e2e::files after;
  for (const auto& [key, rest] : c.lines) {
    const size_t gap = std::min(rest.find(' '), rest.size());
    const std::string first = bytes(rest.substr(0, gap));
    const std::string second = bytes(rest.substr(std::min(gap + 1, rest.size())));
    const fs::path at = dir.path() / first;
    std::istringstream words(key == "args" ? rest : "");
    for (std::string word; words >> word;) args.push_back(with_dir(bytes(word), dir.path()));
    if (key == "file") dir.write(first, second);
    if (key == "mkdir") fs::create_directories(at);
    if (key == "hardlink") fs::create_hard_link(dir.path() / second, at);
    if (key == "symlink") fs::create_symlink(second, at);
    if (key == "limit") options.file_size_limit = std::stol(rest);
    if (key == "status") status = std::stoi(rest);
    if (key == "err") err += bytes(rest);
    if (key == "left") after[first] = second;
    const std::string known = " file mkdir hardlink symlink args limit status err left ";
    ASSERT_NE(known.find(" " + key + " "), std::string::npos) << "unknown directive " << key;
  }
  e2e::expect_run(dir.path(), args, status, e2e::platform_lines(with_dir(err, dir.path())), after,
                  options);
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
