// The built program, run as a user runs it: status, standard error and every
// file left in its directory, compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using files = std::map<std::string, std::string>;

struct run_case {
  const char* title;
  files before;
  std::vector<std::string> args;
  int status;
  std::string err;  // '\n' stands for the platform's line end
  files after;
};

void PrintTo(const run_case& c, std::ostream* os) {
  *os << c.title;
}

std::string usage_screen(bool with_comments) {
  const char* lines[][2] = {
      {"tavlen -m csv        ", "# Remove a separator from every end of line. "},
      {"tavlen -u3 text      ", "# Remove 3 unnecessary characters from every end of line. "},
      {"tavlen -u3 text new  ", "# Read text to produce a new file. "},
      {"tavlen -u3 -r text   ", "# Every line includes 0Dh. "},
      {"tavlen -u3 -y text   ", "# Do not remove binary.tmp "},
      {"tavlen -u3 -w2 text  ", "# Read a double-spaced text to produce a draft. "},
      {"tavlen -x2 text      ", "# Read a double-spaced text to produce a draft. "},
      {"tavlen -V            ", "# version "},
      {"tavlen -VC           ", "# version with comments "},
      {"tavlen --help        ", "# version with comments "},
  };
  std::string screen = "tavlen C-1.030\n\n";
  for (const auto& line : lines)
    screen += std::string(line[0]) + (with_comments ? line[1] : "") + "\n";
  return screen;
}

const std::string csv = "a,b,\r\nc,d,\r\n";
const std::string double_spaced = "line1\r\n\r\nline2\r\n\r\n";
const std::string full_chunk(2561, 'q');  // 2560 bytes once the last is cut

std::vector<run_case> cases() {
  return {
      {"defaults cut the byte before every LF",
       {{"in", "abc\ndef\n"}},
       {"in"},
       0,
       "",
       {{"in", "abc\ndef\n"}, {"draft.txt", "ab\nde\n"}}},
      {"-m strips a CSV separator",
       {{"in", csv}},
       {"-m", "in", "out"},
       0,
       "",
       {{"in", csv}, {"out", "a,b\r\nc,d\r\n"}}},
      {"-r keeps CR LF lines and mends LF lines",
       {{"in", "ab\r\ncd\n\n"}},
       {"-r", "in", "out"},
       0,
       "",
       {{"in", "ab\r\ncd\n\n"}, {"out", "ab\r\nc\r\n\r\n"}}},
      {"-CRLF is -r",
       {{"in", "ab\r\n"}},
       {"in", "out", "-CRLF"},
       0,
       "",
       {{"in", "ab\r\n"}, {"out", "ab\r\n"}}},
      {"-x2 single-spaces CRLF text",
       {{"in", double_spaced}},
       {"-x2", "in", "out"},
       0,
       "",
       {{"in", double_spaced}, {"out", "line1\r\nline2\r\n"}}},
      {"-u3 -w2 turns CRLF double spacing into LF",
       {{"in", double_spaced}},
       {"-u3", "-w2", "in", "out"},
       0,
       "",
       {{"in", double_spaced}, {"out", "line1\nline2\n"}}},
      {"-x alone only rewrites line ends",
       {{"in", "ab\ncd\r\n"}},
       {"-x", "in", "out"},
       0,
       "",
       {{"in", "ab\ncd\r\n"}, {"out", "ab\r\ncd\r\r\n"}}},
      {"-w2 loses the tail after the last group",
       {{"in", "a\nb\nc\n"}},
       {"-w2", "in", "out"},
       0,
       "",
       {{"in", "a\nb\nc\n"}, {"out", "a\n\nc"}}},
      {"byte 7 is data",
       {{"in",
         "ab\x07"
         "cd\n"}},
       {"in", "out"},
       0,
       "",
       {{"in",
         "ab\x07"
         "cd\n"},
        {"out",
         "ab\x07"
         "c\n"}}},
      {"a last line without LF loses its last byte",
       {{"in", "abc\nxyz"}},
       {"in", "out"},
       0,
       "",
       {{"in", "abc\nxyz"}, {"out", "ab\nxy"}}},
      {"-y keeps the staging file",
       {{"in", csv}},
       {"-y", "-m", "in", "out"},
       0,
       "",
       {{"in", csv}, {"out", "a,b\r\nc,d\r\n"}, {"binary.tmp", "a,b\r\nc,d\r\n"}}},
      {"the same name rewrites the file in place",
       {{"in", csv}},
       {"-m", "in", "in"},
       0,
       "",
       {{"in", "a,b\r\nc,d\r\n"}}},
      {"a result of exactly one copy chunk",
       {{"in", full_chunk}},
       {"in", "out"},
       0,
       "",
       {{"in", full_chunk}, {"out", std::string(2560, 'q')}}},
      {"an uncreatable output falls back to draft.txt",
       {{"in", "ab\n"}},
       {"in", "no/such/dir/out"},
       0,
       "",
       {{"in", "ab\n"}, {"draft.txt", "a\n"}}},
      {"the fallback never replaces the input",
       {{"draft.txt", "ab\n"}},
       {"draft.txt", "no/such/dir/out"},
       1,
       "fopen() error: draft.txt\n",
       {{"draft.txt", "ab\n"}, {"binary.tmp", "a\n"}}},
      {"the third name is the output",
       {{"in", "ab\n"}},
       {"in", "b", "c"},
       0,
       "",
       {{"in", "ab\n"}, {"c", "a\n"}}},
      {"options may follow the names",
       {{"text", "ab\n"}},
       {"text", "out", "-r"},
       0,
       "",
       {{"text", "ab\n"}, {"out", "a\r\n"}}},
      {"no input name", {}, {}, 1, "strlen() error: zero size of file name\n", {}},
      {"an empty first name is refused",
       {{"in", "ab\n"}},
       {"", "in"},
       1,
       "strlen() error: zero size of file name\n",
       {{"in", "ab\n"}}},
      {"an empty input", {{"in", ""}}, {"in"}, 1, "malloc() error: 0 bytes", {{"in", ""}}},
      {"--help is a file name",
       {},
       {"--help"},
       1,
       "fopen() error-2: --help\n",
       {{"error.txt", "fopen() error-3: --help"}, {"binary.tmp", ""}}},
      {"a missing input in the CRLF variant",
       {},
       {"-m", "nofile"},
       1,
       "fopen() error-1: nofile\n",
       {{"error.txt", "fopen() error-3: nofile"}, {"binary.tmp", ""}}},
      {"-xa is a file name and resets the group",
       {{"-xa", "a\nb\n"}},
       {"-w3", "-xa", "out"},
       0,
       "",
       {{"-xa", "a\nb\n"}, {"out", "\n\n"}}},
      {"-V shows the short screen",
       {{"text", "ab\n"}},
       {"-y", "text", "-V", "more"},
       1,
       usage_screen(false),
       {{"text", "ab\n"}}},
      {"-VC shows the commented screen",
       {{"text", "ab\n"}},
       {"text", "-VC"},
       1,
       usage_screen(true),
       {{"text", "ab\n"}}},
      {"the staging file is refused as input",
       {{"binary.tmp", "mine\n"}},
       {"binary.tmp", "out"},
       1,
       "binary.tmp error: binary.tmp is the staging file\n",
       {{"binary.tmp", "mine\n"}}},
      {"the staging file is refused as output",
       {{"in", "ab\n"}},
       {"in", "./binary.tmp"},
       1,
       "binary.tmp error: ./binary.tmp is the staging file\n",
       {{"in", "ab\n"}}},
  };
}

// Names and spellings only Windows gives a meaning to. "{dir}" stands for the
// scratch directory with a drive letter; a file made as "<link>name" is a hard
// link to that name.
std::vector<run_case> windows_cases() {
  return {
      {"non-ASCII names in and out",
       {{"café_日本.csv", csv}},
       {"-m", "café_日本.csv", "résumé_出力.csv"},
       0,
       "",
       {{"café_日本.csv", csv}, {"résumé_出力.csv", "a,b\r\nc,d\r\n"}}},
      {"a missing non-ASCII input is named whole",
       {},
       {"nöfile_日本"},
       1,
       "fopen() error-2: nöfile_日本\n",
       {{"error.txt", "fopen() error-3: nöfile_日本"}, {"binary.tmp", ""}}},
      {"backslashes separate directories",
       {{"sub/in", "ab\n"}},
       {"sub\\in", ".\\sub\\out"},
       0,
       "",
       {{"sub", "<dir>"}, {"sub/in", "ab\n"}, {"sub/out", "a\n"}}},
      {"BINARY.TMP is the staging file",
       {{"in", "ab\n"}},
       {"in", "BINARY.TMP"},
       1,
       "binary.tmp error: BINARY.TMP is the staging file\n",
       {{"in", "ab\n"}}},
      {"any letter case of an existing staging file",
       {{"binary.tmp", "mine\n"}},
       {"Binary.Tmp", "out"},
       1,
       "binary.tmp error: Binary.Tmp is the staging file\n",
       {{"binary.tmp", "mine\n"}}},
      {"the staging file with a backslash",
       {{"in", "ab\n"}},
       {"in", ".\\binary.tmp"},
       1,
       "binary.tmp error: .\\binary.tmp is the staging file\n",
       {{"in", "ab\n"}}},
      {"the staging file through another directory",
       {{"sub/in", "ab\n"}},
       {"in", "sub\\..\\binary.tmp"},
       1,
       "binary.tmp error: sub\\..\\binary.tmp is the staging file\n",
       {{"sub", "<dir>"}, {"sub/in", "ab\n"}}},
      {"the staging file by drive letter",
       {{"in", "ab\n"}},
       {"in", "{dir}\\BINARY.tmp"},
       1,
       "binary.tmp error: {dir}\\BINARY.tmp is the staging file\n",
       {{"in", "ab\n"}}},
      {"a non-ASCII hard link to the staging file",
       {{"binary.tmp", "mine\n"}, {"été_link", "<link>binary.tmp"}},
       {"été_link", "out"},
       1,
       "binary.tmp error: été_link is the staging file\n",
       {{"binary.tmp", "mine\n"}, {"été_link", "mine\n"}}},
      {"a trailing dot names the same file",
       {{"in", "ab\n"}},
       {"in", "binary.tmp."},
       1,
       "binary.tmp error: binary.tmp. is the staging file\n",
       {{"in", "ab\n"}}},
  };
}

// Wine shows the root of the Linux file system as drive Z:.
std::string spelled_for_windows(std::string text, const std::filesystem::path& dir) {
  std::string drive_path = "Z:" + dir.string();
  for (char& c : drive_path) {
    if (c == '/') c = '\\';
  }
  const std::string mark = "{dir}";
  for (size_t at; (at = text.find(mark)) != std::string::npos;) {
    text.replace(at, mark.size(), drive_path);
  }
  return text;
}

void expect_run(const run_case& c) {
  e2e::scratch_dir dir;
  const std::string link_mark = "<link>";
  for (const auto& [name, bytes] : c.before) {
    if (bytes.starts_with(link_mark)) continue;
    dir.write(name, bytes);
  }
  for (const auto& [name, bytes] : c.before) {
    if (!bytes.starts_with(link_mark)) continue;
    std::filesystem::create_hard_link(dir.path() / bytes.substr(link_mark.size()),
                                      dir.path() / name);
  }
  std::vector<std::string> args;
  for (const std::string& arg : c.args) args.push_back(spelled_for_windows(arg, dir.path()));
  const e2e::run_result got = e2e::run_tavlen(dir.path(), args);
  EXPECT_EQ(got.status, c.status) << c.title;
  EXPECT_EQ(e2e::escaped(got.err),
            e2e::escaped(e2e::platform_lines(spelled_for_windows(c.err, dir.path()))))
      << c.title;
  const files left = e2e::read_tree(dir.path());
  EXPECT_EQ(left, c.after) << c.title << "\nleft behind:\n"
                           << e2e::describe(left) << "expected:\n"
                           << e2e::describe(c.after);
}

std::string case_name(const testing::TestParamInfo<run_case>& info) {
  return "case_" + std::to_string(info.index);
}

class program_run : public testing::TestWithParam<run_case> {};

TEST_P(program_run, leaves_exact_status_messages_and_files) {
  expect_run(GetParam());
}

INSTANTIATE_TEST_SUITE_P(cases, program_run, testing::ValuesIn(cases()), case_name);

class windows_run : public testing::TestWithParam<run_case> {};

TEST_P(windows_run, leaves_exact_status_messages_and_files) {
  if (!e2e::windows_program()) GTEST_SKIP() << "Windows names: runs only against tavlen.exe";
  expect_run(GetParam());
}

INSTANTIATE_TEST_SUITE_P(cases, windows_run, testing::ValuesIn(windows_cases()), case_name);

}  // namespace
