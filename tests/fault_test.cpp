// Faults that need more than a table of files (threads, mounts, generated
// names and large inputs): each run must give the exact result or say what
// failed with status 1, and leave the user's files intact. Linux only.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

std::string repeat(const std::string& s, int times) {
  std::string out;
  while (times-- > 0) out += s;
  return out;
}

class fault : public testing::Test {
 protected:
  void SetUp() override {
    if (e2e::windows_program()) GTEST_SKIP() << "needs Linux devices, mounts and FIFOs";
  }
};

// A file system too small for the staging file and the output together: the
// copy fails part way (in the kernel or in stdio), the staged result stays.
TEST_F(fault, output_on_a_full_file_system_keeps_the_staged_result) {
  e2e::scratch_dir dir;
  const fs::path disk = dir.path() / "disk";
  fs::create_directory(disk);
  if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  // Unmounted however the test ends, before the scratch directory goes.
  const std::shared_ptr<void> unmount(nullptr, [&](void*) { umount2(disk.c_str(), MNT_DETACH); });
  const std::string in = repeat(std::string(49, 'x') + ",\n", 1765);  // 90015 bytes
  const std::string trimmed = repeat(std::string(49, 'x') + "\n", 1765);
  std::ofstream(disk / "in", std::ios::binary) << in;
  const e2e::run_result got = e2e::run_tavlen(disk, {"in", "out"});
  EXPECT_EQ(got.status, 1);
  EXPECT_EQ(got.err, "fwrite() error: out\n");
  // Whatever part of the output was written must be the start of the result.
  const std::string out = e2e::read_tree(disk)["out"];
  EXPECT_LT(out.size(), trimmed.size());
  e2e::expect_tree(disk,
                   {{"in", in}, {"binary.tmp", trimmed}, {"out", trimmed.substr(0, out.size())}});
}

TEST_F(fault, input_directory_is_a_read_error) {
  e2e::scratch_dir dir;
  dir.write("d/f", "x\n");
  dir.write("out", "old output");
  // Whether a directory can be sized depends on the file system.
  const int fd = open((dir.path() / "d").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  const off_t size = lseek(fd, 0, SEEK_END);
  close(fd);
  if (size == 0) GTEST_SKIP() << "this file system sizes a directory as empty";
  e2e::files want = {{"d", "<dir>"}, {"d/f", "x\n"}, {"out", "old output"}, {"binary.tmp", ""}};
  if (size < 0) want["error.txt"] = "ftell() error: d";
  e2e::expect_run(dir.path(), {"-m", "d", "out"}, 1, "fread() error: d\n", want);
}

TEST_F(fault, input_fifo_is_read_once_to_its_end) {
  e2e::scratch_dir dir;
  const fs::path fifo = dir.path() / "f";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  // More than a pipe holds, so the writer must wait for the reader.
  const std::string sent = repeat("a,b,\r\nc,d,\r\n", 30000);
  signal(SIGPIPE, SIG_IGN);  // a reader gone early fails the writes instead
  size_t written = 0;
  std::thread writer([&] {
    const int fd = open(fifo.c_str(), O_WRONLY);
    ssize_t n = 0;
    while (fd >= 0 && written < sent.size() &&
           (n = write(fd, sent.data() + written, sent.size() - written)) > 0)
      written += n;
    if (fd >= 0) close(fd);
  });
  e2e::run_result got;
  EXPECT_NO_THROW(got = e2e::run_tavlen(dir.path(), {"-m", "f", "out"}, {-1, 20}));
  // A program that never opened the FIFO leaves the writer blocked: free it.
  close(open(fifo.c_str(), O_RDONLY | O_NONBLOCK));
  writer.join();
  EXPECT_EQ(written, sent.size());
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, "");
  fs::remove(fifo);  // reading the tree must not open it again
  e2e::expect_tree(dir.path(),
                   {{"error.txt", "ftell() error: f"}, {"out", repeat("a,b\r\nc,d\r\n", 30000)}});
}

TEST_F(fault, arguments_of_every_byte_value) {
  std::vector<std::string> one_byte_each;
  std::string ascending;
  for (int b = 1; b <= 255; ++b) {
    one_byte_each.push_back(std::string(1, static_cast<char>(b)));
    if (b != '/') ascending += static_cast<char>(b);
  }
  const std::string descending(ascending.rbegin(), ascending.rend());
  const std::string csv = "a,b,\r\nc,d,\r\n";
  {
    SCOPED_TRACE("one argument per byte value: the first is the input, the last the output");
    e2e::scratch_dir dir;
    dir.write("\x01", csv);
    e2e::expect_run(dir.path(), one_byte_each, 0, "", {{"\x01", csv}, {"\xff", "a,b,\nc,d,\n"}});
  }
  {
    SCOPED_TRACE("names holding every byte value but '/'");
    e2e::scratch_dir dir;
    dir.write(ascending, csv);
    e2e::expect_run(dir.path(), {"-m", ascending, descending}, 0, "",
                    {{ascending, csv}, {descending, "a,b\r\nc,d\r\n"}});
  }
}

// Several read chunks, so the input must be read to its end before the output
// replaces it.
TEST_F(fault, same_name_for_input_and_output_is_rewritten_whole) {
  std::string lf_in, lf_out, csv_in, csv_out;
  const std::vector<std::string> lf_args = {"t", "t"}, csv_args = {"-m", "t", "./t"};
  for (int i = 0; lf_in.size() < (size_t{3} << 20); ++i) {
    const std::string row = "row " + std::to_string(i);
    lf_in += row + ";\n", lf_out += row + "\n", csv_in += row + ",\r\n", csv_out += row + "\r\n";
  }
  for (const bool csv : {false, true}) {
    SCOPED_TRACE(csv ? "-m" : "defaults");
    e2e::scratch_dir dir;
    dir.write("t", csv ? csv_in : lf_in);
    e2e::expect_run(dir.path(), csv ? csv_args : lf_args, 0, "", {{"t", csv ? csv_out : lf_out}});
  }
}

}  // namespace
