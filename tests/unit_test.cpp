// What the end-to-end cases cannot reach: the block-wise pass against the
// byte-at-a-time reference, and the copy step when the staging file fails.
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "pass_check.h"
#include "trim/trim_job.h"

namespace {

namespace fs = std::filesystem;

TEST(trim_pass, block_pass_matches_byte_pass_on_random_input) {
  const int32_t settings[] = {INT32_MIN, -7, -1,  0,   1,   2,   3,        5,
                              17,        63, 125, 126, 127, 500, INT32_MAX};
  const unsigned char alphabet[] = {'\n', '\n', '\n', '\r', '\r', ',', 'a', 0, 7, 255};
  std::mt19937 rng(20261206);
  for (const int32_t group : settings)
    for (const int32_t cut : settings)
      for (int round = 0; round < 8; ++round) {
        const line_end variant = round % 2 ? line_end::crlf : line_end::lf;
        std::vector<unsigned char> text(rng() % 1200);
        for (unsigned char& c : text) c = rng() % 8 ? alphabet[rng() % sizeof alphabet] : rng();
        // Tiny and empty reads straddle lines and held bytes; reads of 128
        // bytes and more take the 64-byte blocks.
        std::vector<size_t> reads = {1 + rng() % 7, 128 + rng() % 200, rng() % 8, 1 + rng() % 7};
        if (round < 2) reads = {1 << 16};
        ASSERT_TRUE(block_pass_matches(group, cut, variant, reads, text))
            << "N=" << group << " K=" << cut << " crlf=" << round % 2 << " reads " << reads[0]
            << " " << reads[1] << " input " << testing::PrintToString(text);
      }
}

// The copy step alone, in a scratch current directory.
TEST(stage_output, a_staging_file_it_cannot_open_or_read) {
  std::string dir = (fs::temp_directory_path() / "tavlen-XXXXXX").string();
  const fs::path home = fs::current_path();
  ASSERT_NE(mkdtemp(dir.data()), nullptr);
  fs::current_path(dir);
  std::ofstream("out") << "old output";
  EXPECT_EQ(stage_output("out", 0, "in"), -2);
  std::stringstream out;
  out << std::ifstream("out").rdbuf();
  EXPECT_EQ(out.str(), "old output");
  // Linux opens a directory for reading; reading it fails.
  fs::create_directory(staging_name);
  testing::internal::CaptureStderr();
  EXPECT_EQ(stage_output("out", 0, "in"), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "fread() error: binary.tmp\n");
  EXPECT_TRUE(fs::is_directory(staging_name));
  fs::current_path(home);
  fs::remove_all(dir);
}

}  // namespace
