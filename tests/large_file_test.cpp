// An input past 2 GiB, as a sparse file: every byte of it must be processed,
// so sizes and offsets have to hold 64 bits all the way through.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "e2e_support.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t gib = uint64_t{1} << 30;
constexpr uint64_t input_size = gib * 206 / 100;  // 2.06 GiB

std::string read_at(const fs::path& file, uint64_t offset, size_t n) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(n, '\0');
  in.seekg(static_cast<std::streamoff>(offset)).read(bytes.data(), static_cast<std::streamsize>(n));
  return bytes.substr(0, static_cast<size_t>(in.gcount()));
}

TEST(large_file, sparse_input_past_2_gib_is_trimmed_whole) {
  if (e2e::windows_program()) GTEST_SKIP() << "sparse files are made with POSIX calls";
  // The staging file and the output, with room.
  const fs::space_info space = fs::space(fs::temp_directory_path());
  if (space.available < 5 * gib) {
    GTEST_SKIP() << "needs 5 GiB free in " << fs::temp_directory_path() << ", has "
                 << space.available / (1 << 20) << " MiB";
  }
  e2e::scratch_dir dir;
  const fs::path in = dir.path() / "big.csv", out = dir.path() / "out.csv";
  const std::string tail = "last,line,\r\n";
  {
    std::ofstream big(in, std::ios::binary);
    big << "first,line,\r\n";
    big.seekp(static_cast<std::streamoff>(input_size - tail.size())) << tail;  // a hole between
    ASSERT_TRUE(big.flush());
  }
  ASSERT_EQ(fs::file_size(in), input_size);

  const e2e::run_result got = e2e::run_tavlen(dir.path(), {"-m", "big.csv", "out.csv"}, {-1, 900});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.err, "");
  ASSERT_TRUE(fs::exists(out));
  EXPECT_FALSE(fs::exists(dir.path() / "binary.tmp"));

  // Both lines lose their separator; the zeros between are one long line.
  const uint64_t out_size = fs::file_size(out);
  EXPECT_EQ(out_size, input_size - 2);
  EXPECT_EQ(read_at(out, 0, 16), "first,line\r\n" + std::string(4, '\0'));
  EXPECT_EQ(read_at(out, out_size - 15, 15), std::string(4, '\0') + "last,line\r\n");
}

}  // namespace
