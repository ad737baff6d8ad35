// Real faults from the disk, the file system and the command line: each run
// must give the exact result or say what failed with status 1, and leave the
// user's files intact. Linux only: they need /dev/full, rlimits and FIFOs.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;
using files = std::map<std::string, std::string>;

const std::string csv = "a,b,\r\nc,d,\r\n";
const std::string csv_trimmed = "a,b\r\nc,d\r\n";
const std::string dir_mark = "<dir>";

std::string repeat(const std::string& s, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += s;
  return out;
}

// Replaces every "{dir}" with the scratch directory's absolute path.
std::string with_dir(std::string text, const fs::path& dir) {
  const std::string mark = "{dir}";
  for (size_t at; (at = text.find(mark)) != std::string::npos;)
    text.replace(at, mark.size(), dir.string());
  return text;
}

class fault : public testing::Test {
 protected:
  void SetUp() override {
    if (e2e::windows_program()) GTEST_SKIP() << "needs Linux devices, rlimits and FIFOs";
  }
};

void expect_tree(const fs::path& dir, const files& want, const std::string& title) {
  const files left = e2e::read_tree(dir);
  EXPECT_EQ(left, want) << title << "\nleft behind:\n"
                        << e2e::describe(left) << "expected:\n"
                        << e2e::describe(want);
}

struct fault_case {
  const char* title;
  files before;
  std::function<void(const fs::path&)> prepare;  // directories, links; may be empty
  std::vector<std::string> args;                 // "{dir}" is the scratch directory
  e2e::run_options options;
  int status;
  std::string err;
  files after;
};

void make_dir(const fs::path& p) {
  fs::create_directories(p);
}

std::vector<fault_case> cases() {
  const std::string big_csv = repeat(csv, 40);  // 480 bytes in, 400 out
  const std::string big_trimmed = repeat(csv_trimmed, 40);
  const std::string a99(99, 'A'), b99(99, 'B');
  const std::string nest = a99 + "/" + b99 + "/";
  const std::string in300 = nest + std::string(300 - nest.size(), 'i');
  const std::string out300 = nest + std::string(300 - nest.size(), 'o');
  const std::string long5000(5000, 'n');
  std::vector<fault_case> list = {
      {"output on a full device keeps the staged result",
       {{"in", csv}},
       {},
       {"-m", "in", "/dev/full"},
       {},
       1,
       "fwrite() error: /dev/full\n",
       {{"in", csv}, {"binary.tmp", csv_trimmed}}},
      {"-y output on a full device",
       {{"in", csv}},
       {},
       {"-y", "-m", "in", "/dev/full"},
       {},
       1,
       "fwrite() error: /dev/full\n",
       {{"in", csv}, {"binary.tmp", csv_trimmed}}},
      {"staging file past the file size limit leaves the output alone",
       {{"in", big_csv}, {"out", "old output"}},
       {},
       {"-m", "in", "out"},
       {100, 60},
       1,
       "fwrite() error: binary.tmp\n",
       {{"in", big_csv}, {"out", "old output"}, {"binary.tmp", big_trimmed.substr(0, 100)}}},
      {"staging file cannot be created",
       {{"in", csv}, {"out", "old output"}},
       [](const fs::path& d) { make_dir(d / "binary.tmp"); },
       {"-m", "in", "out"},
       {},
       1,
       "fopen() error: binary.tmp\n",
       {{"in", csv}, {"out", "old output"}, {"binary.tmp", dir_mark}}},
      {"neither the output nor draft.txt can be created",
       {{"in", csv}},
       [](const fs::path& d) { make_dir(d / "draft.txt"); },
       {"-m", "in", "no/such/dir/out"},
       {},
       1,
       "fopen() error: draft.txt\n",
       {{"in", csv}, {"draft.txt", dir_mark}, {"binary.tmp", csv_trimmed}}},
      {"a 300-byte name through nested directories is used whole",
       {},
       [=](const fs::path& d) {
         make_dir(d / nest);
         std::ofstream(d / in300, std::ios::binary) << csv;
       },
       {"-m", in300, out300},
       {},
       0,
       "",
       {{a99, dir_mark}, {a99 + "/" + b99, dir_mark}, {in300, csv}, {out300, csv_trimmed}}},
      {"a 5000-byte input name fails cleanly",
       {},
       {},
       {long5000, "out"},
       {},
       1,
       "fopen() error-2: " + long5000 + "\n",
       {{"error.txt", "fopen() error-3: " + long5000}, {"binary.tmp", ""}}},
      {"a 5000-byte output name falls back to draft.txt",
       {{"in", csv}},
       {},
       {"-m", "in", long5000},
       {},
       0,
       "",
       {{"in", csv}, {"draft.txt", csv_trimmed}}},
  };

  // Every spelling of the staging file, as input and as output.
  const std::vector<std::string> spellings = {
      "binary.tmp", "./binary.tmp", "{dir}/binary.tmp", "sub/../binary.tmp", "hard", "soft"};
  const files staging_setup = {{"binary.tmp", "mine\n"}, {"in", csv}, {"hard", "mine\n"}};
  const auto links = [](const fs::path& d) {
    make_dir(d / "sub");
    fs::remove(d / "hard");
    fs::create_hard_link(d / "binary.tmp", d / "hard");
    fs::create_symlink("binary.tmp", d / "soft");
  };
  const files staging_after = {{"binary.tmp", "mine\n"},
                               {"in", csv},
                               {"hard", "mine\n"},
                               {"soft", "<link>"},
                               {"sub", dir_mark}};
  for (const std::string& name : spellings) {
    const std::string err = "binary.tmp error: " + name + " is the staging file\n";
    list.push_back({"staging file refused as input",
                    staging_setup,
                    links,
                    {"-m", name, "out"},
                    {},
                    1,
                    err,
                    staging_after});
    list.push_back({"staging file refused as output",
                    staging_setup,
                    links,
                    {"-m", "in", name},
                    {},
                    1,
                    err,
                    staging_after});
  }
  list.push_back({"a link to a staging file not made yet is refused as output",
                  {{"in", csv}},
                  [](const fs::path& d) { fs::create_symlink("binary.tmp", d / "soft"); },
                  {"in", "soft"},
                  {},
                  1,
                  "binary.tmp error: soft is the staging file\n",
                  {{"in", csv}, {"soft", "<link>"}}});
  return list;
}

TEST_F(fault, table_of_faults_leaves_exact_status_messages_and_files) {
  for (const fault_case& c : cases()) {
    SCOPED_TRACE(c.title);
    e2e::scratch_dir dir;
    for (const auto& [name, bytes] : c.before) dir.write(name, bytes);
    if (c.prepare) c.prepare(dir.path());
    std::vector<std::string> args;
    for (const std::string& a : c.args) args.push_back(with_dir(a, dir.path()));
    const e2e::run_result got = e2e::run_tavlen(dir.path(), args, c.options);
    EXPECT_EQ(got.status, c.status);
    EXPECT_EQ(e2e::escaped(got.err), e2e::escaped(with_dir(c.err, dir.path())));
    expect_tree(dir.path(), c.after, c.title);
  }
}

// A file system too small for the staging file and the output together: the
// copy fails part way (in the kernel or in stdio), the staged result stays.
TEST_F(fault, output_on_a_full_file_system_keeps_the_staged_result) {
  e2e::scratch_dir dir;
  const fs::path disk = dir.path() / "disk";
  make_dir(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  // Unmounted however the test ends, before the scratch directory goes.
  struct unmount_at_exit {
    const fs::path& at;
    ~unmount_at_exit() { umount2(at.c_str(), MNT_DETACH); }
  } unmount{disk};
  std::string in, trimmed;
  while (in.size() < 90000) {
    in += std::string(49, 'x') + ",\n";
    trimmed += std::string(49, 'x') + "\n";
  }
  { std::ofstream(disk / "in", std::ios::binary) << in; }
  const e2e::run_result got = e2e::run_tavlen(disk, {"in", "out"});
  const files left = e2e::read_tree(disk);
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(got.err, "fwrite() error: out\n");
  ASSERT_EQ(left.count("out"), 1u);
  EXPECT_LT(left.at("out").size(), trimmed.size());
  EXPECT_EQ(left.at("out"), trimmed.substr(0, left.at("out").size())) << "out is a prefix";
  const files want_rest = {{"in", in}, {"binary.tmp", trimmed}};
  files rest = left;
  rest.erase("out");
  EXPECT_EQ(rest, want_rest) << e2e::describe(rest);
}

TEST_F(fault, input_directory_is_a_read_error) {
  e2e::scratch_dir dir;
  make_dir(dir.path() / "d");
  dir.write("d/f", "x\n");
  dir.write("out", "old output");
  // Whether a directory can be sized depends on the file system.
  const int fd = open((dir.path() / "d").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const off_t size = lseek(fd, 0, SEEK_END);
  close(fd);
  if (size == 0) GTEST_SKIP() << "this file system sizes a directory as empty";
  files want = {{"d", dir_mark}, {"d/f", "x\n"}, {"out", "old output"}, {"binary.tmp", ""}};
  if (size < 0) want["error.txt"] = "ftell() error: d";

  const e2e::run_result got = e2e::run_tavlen(dir.path(), {"-m", "d", "out"});
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(got.err, "fread() error: d\n");
  expect_tree(dir.path(), want, "input directory");
}

TEST_F(fault, input_fifo_is_read_once_to_its_end) {
  e2e::scratch_dir dir;
  const fs::path fifo = dir.path() / "f";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // More than a pipe holds, so the writer must wait for the reader.
  const std::string sent = repeat(csv, 30000);
  std::atomic<bool> written{false};
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);
    if (fd < 0) return;
    size_t done = 0;
    while (done < sent.size()) {
      const ssize_t n = write(fd, sent.data() + done, sent.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    close(fd);
    written = done == sent.size();
  });
  e2e::run_result got;
  std::string failure;
  try {
    got = e2e::run_tavlen(dir.path(), {"-m", "f", "out"}, {-1, 20});
  } catch (const std::exception& e) {
    failure = e.what();
  }
  // A program that never opened the FIFO leaves the writer blocked: free it.
  const int unblock = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  writer.join();
  if (unblock >= 0) close(unblock);
  ASSERT_EQ(failure, "");
  EXPECT_TRUE(written.load());
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, "");
  fs::remove(fifo);  // reading the tree must not open it again
  expect_tree(dir.path(), {{"error.txt", "ftell() error: f"}, {"out", repeat(csv_trimmed, 30000)}},
              "input fifo");
}

TEST_F(fault, arguments_of_every_byte_value) {
  std::vector<std::string> one_byte_each;
  std::string ascending, descending;
  for (int b = 1; b <= 255; ++b) {
    one_byte_each.push_back(std::string(1, static_cast<char>(b)));
    if (b != '/') ascending += static_cast<char>(b);
  }
  descending.assign(ascending.rbegin(), ascending.rend());

  {
    SCOPED_TRACE("one argument per byte value: the first is the input, the last the output");
    e2e::scratch_dir dir;
    dir.write("\x01", csv);
    const e2e::run_result got = e2e::run_tavlen(dir.path(), one_byte_each);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(e2e::escaped(got.err), "");
    expect_tree(dir.path(), {{"\x01", csv}, {"\xff", "a,b,\nc,d,\n"}}, "one byte each");
  }
  {
    SCOPED_TRACE("names holding every byte value but '/'");
    e2e::scratch_dir dir;
    dir.write(ascending, csv);
    const e2e::run_result got = e2e::run_tavlen(dir.path(), {"-m", ascending, descending});
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(e2e::escaped(got.err), "");
    expect_tree(dir.path(), {{ascending, csv}, {descending, csv_trimmed}}, "every byte");
  }
}

TEST_F(fault, same_name_for_input_and_output_is_rewritten_whole) {
  // Several read chunks, so the input must be read to its end before the
  // output replaces it.
  std::string lf_in, lf_out, csv_in, csv_out;
  for (int i = 0; lf_in.size() < (size_t{3} << 20); ++i) {
    const std::string row = "row " + std::to_string(i);
    lf_in += row + ";\n";
    lf_out += row + "\n";
    csv_in += row + ",\r\n";
    csv_out += row + "\r\n";
  }
  const struct {
    const char* title;
    std::vector<std::string> args;
    const std::string& before;
    const std::string& after;
  } runs[] = {
      {"defaults", {"t", "t"}, lf_in, lf_out},
      {"-m", {"-m", "t", "./t"}, csv_in, csv_out},
  };
  for (const auto& r : runs) {
    SCOPED_TRACE(r.title);
    e2e::scratch_dir dir;
    dir.write("t", r.before);
    const e2e::run_result got = e2e::run_tavlen(dir.path(), r.args);
    EXPECT_EQ(got.status, 0);
    EXPECT_EQ(got.err, "");
    const files left = e2e::read_tree(dir.path());
    EXPECT_EQ(left.size(), 1u) << e2e::describe(left);
    EXPECT_TRUE(left.count("t") == 1 && left.at("t") == r.after) << r.title;
  }
}

}  // namespace
