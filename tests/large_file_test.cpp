// An input past 2 GiB, as a sparse file: every byte of it must be processed,
// so sizes and offsets have to hold 64 bits all the way through.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t gib = uint64_t{1} << 30;
constexpr uint64_t input_size = gib * 206 / 100;  // 2.06 GiB
constexpr uint64_t scratch_needed = 5 * gib;      // staging file and output, with room

void write_at(int fd, const std::string& bytes, uint64_t offset) {
  ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)),
            static_cast<ssize_t>(bytes.size()));
}

std::string read_at(const fs::path& file, uint64_t offset, size_t n) {
  const int fd = open(file.c_str(), O_RDONLY);
  std::string bytes(n, '\0');
  const ssize_t got = fd < 0 ? -1 : pread(fd, bytes.data(), n, static_cast<off_t>(offset));
  if (fd >= 0) close(fd);
  bytes.resize(got < 0 ? 0 : static_cast<size_t>(got));
  return bytes;
}

TEST(large_file, sparse_input_past_2_gib_is_trimmed_whole) {
  if (e2e::windows_program()) GTEST_SKIP() << "sparse files are made with POSIX calls";
  const fs::space_info space = fs::space(fs::temp_directory_path());
  if (space.available < scratch_needed) {
    GTEST_SKIP() << "needs 5 GiB free in " << fs::temp_directory_path() << ", has "
                 << space.available / (1 << 20) << " MiB";
  }
  e2e::scratch_dir dir;
  const std::string head = "first,line,\r\n";
  const std::string tail = "last,line,\r\n";
  {
    const int fd = open((dir.path() / "big.csv").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    write_at(fd, head, 0);
    write_at(fd, tail, input_size - tail.size());
    ASSERT_EQ(close(fd), 0);
  }
  ASSERT_EQ(fs::file_size(dir.path() / "big.csv"), input_size);

  const e2e::run_result got = e2e::run_tavlen(dir.path(), {"-m", "big.csv", "out.csv"}, {-1, 900});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, "");
  ASSERT_TRUE(fs::exists(dir.path() / "out.csv"));
  EXPECT_FALSE(fs::exists(dir.path() / "binary.tmp"));

  // Both lines lose their separator; the zeros between are one long line.
  const uint64_t out_size = fs::file_size(dir.path() / "out.csv");
  EXPECT_EQ(out_size, input_size - 2);
  const std::string want_head = "first,line\r\n" + std::string(4, '\0');
  const std::string want_tail = std::string(4, '\0') + "last,line\r\n";
  EXPECT_EQ(e2e::escaped(read_at(dir.path() / "out.csv", 0, want_head.size())),
            e2e::escaped(want_head));
  EXPECT_EQ(
      e2e::escaped(read_at(dir.path() / "out.csv", out_size - want_tail.size(), want_tail.size())),
      e2e::escaped(want_tail));
}

}  // namespace
