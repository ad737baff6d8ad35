// What the end-to-end cases cannot reach: the block-wise pass, with each
// line-feed scan the processor has, against the byte-at-a-time reference; the
// writer thread's queue when one side is slow; and names Windows allows that
// no command line under Wine can carry.
#include <chrono>
#include <climits>
#include <filesystem>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif
#ifdef __linux__
#include <sched.h>
#endif

#include <gtest/gtest.h>

#include "pass_check.h"
#include "trim/block_writer.h"
#include "trim/cpu_quota.h"
#include "trim/lf_scan.h"
#include "trim/platform.h"

namespace {

TEST(trim_pass, block_pass_matches_byte_pass_on_random_input) {
  // 126 is the cap, 127 the first cut past it, 200 well past it; INT32_MAX
  // wraps to an empty window.
  const int32_t settings[] = {INT32_MIN, -7, -1,  0,   1,   2,   3,   5,
                              17,        63, 125, 126, 127, 200, 500, INT32_MAX};
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
        // Each scan the processor has, in turn.
        const auto scan = static_cast<pass_scan>(round % (static_cast<int>(widest_scan()) + 1));
        ASSERT_TRUE(block_pass_matches(group, cut, variant, reads, text, scan))
            << "N=" << group << " K=" << cut << " crlf=" << round % 2 << " reads " << reads[0]
            << " " << reads[1] << " scan " << static_cast<int>(scan) << " input "
            << testing::PrintToString(text);
      }
}

#ifdef TAVLEN_HAS_AVX2
// The scans themselves meet the reference through the test above.
TEST(lf_scan, the_processor_is_asked_as_the_compiler_would) {
  EXPECT_EQ(have_avx2(), __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
                             __builtin_cpu_supports("bmi2"));
}
#endif

#ifndef _WIN32
// Each side waits longer than the other spins: a block handed over must stay
// untouched until written, and a writer asleep must wake for the next one.
// The caller refills each slot as soon as it may.
TEST(block_writer, writes_each_block_whole_and_in_order_whichever_side_is_slow) {
  using std::chrono::milliseconds;
  for (const size_t slot_count : {2, 3}) {
    for (const int sides : {0, 1, 2, 3}) {
      const bool slow_reader = sides & 1, own_thread = sides & 2;
      int ends[2];
      ASSERT_EQ(pipe(ends), 0);
      std::string got;
      std::thread reader([&] {
        std::vector<char> buf(1 << 16);
        for (ssize_t n; (n = read(ends[0], buf.data(), buf.size())) > 0;) {
          got.append(buf.data(), static_cast<size_t>(n));
          if (slow_reader) std::this_thread::sleep_for(milliseconds(2));
        }
      });
      std::string want;
      std::vector<std::vector<unsigned char>> slots(slot_count);
      {
        block_writer writer(os_file{ends[1]}, slots.size(), own_thread);
        for (int k = 0; k < 12; ++k) {
          std::vector<unsigned char>& slot = slots[k % slots.size()];
          slot.assign(100000 + k, static_cast<unsigned char>('a' + k));
          want.append(slot.begin(), slot.end());
          EXPECT_TRUE(writer.put(slot.data(), slot.size()));
          if (!slow_reader) std::this_thread::sleep_for(milliseconds(3));
        }
        EXPECT_TRUE(writer.finish());
      }
      close(ends[1]);
      reader.join();
      close(ends[0]);
      EXPECT_TRUE(got == want) << slot_count << " slots, thread " << own_thread << ", slow "
                               << (slow_reader ? "reader: " : "writer: ") << got.size()
                               << " bytes of " << want.size();
    }
  }
}

#ifdef __linux__
// Holds this thread, and the threads it starts, to the first CPU it may use.
struct on_one_cpu {
  cpu_set_t was;
  on_one_cpu() {
    EXPECT_EQ(sched_getaffinity(0, sizeof was, &was), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; CPU_COUNT(&one) == 0 && cpu < CPU_SETSIZE; ++cpu)
      if (CPU_ISSET(cpu, &was)) CPU_SET(cpu, &one);
    EXPECT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  }
  ~on_one_cpu() { sched_setaffinity(0, sizeof was, &was); }
};

size_t threads_running() {
  const std::filesystem::directory_iterator tasks("/proc/self/task");
  return static_cast<size_t>(std::distance(begin(tasks), end(tasks)));
}

TEST(block_writer, starts_a_thread_only_where_the_process_may_use_two_cpus) {
  const int null = open("/dev/null", O_WRONLY);
  for (const bool pinned : {true, false}) {
    std::optional<on_one_cpu> hold;
    if (pinned) hold.emplace();
    const int cpus = usable_cpus();
    EXPECT_TRUE(pinned ? cpus == 1 : cpus >= 1) << cpus;
    // A thread first, with which a runtime starts any of its own (ThreadSanitizer).
    const block_writer threaded(os_file{null}, 3, true);
    const size_t before = threads_running();
    const block_writer writer(os_file{null}, 3);
    EXPECT_EQ(threads_running(), before + (cpus > 1)) << cpus << " CPUs";
  }
  close(null);
}

// A thread that shares the caller's one CPU runs only when the caller waits:
// the caller writes the oldest block itself rather than wait for it.
TEST(block_writer, on_one_cpu_the_caller_writes_what_its_thread_gets_no_turn_to) {
  const on_one_cpu hold;
  const int null = open("/dev/null", O_WRONLY);
  const std::vector<unsigned char> block(4096, 'a');
  block_writer writer(os_file{null}, 2, true);
  for (int k = 0; k < 64; ++k) EXPECT_TRUE(writer.put(block.data(), block.size()));
  EXPECT_TRUE(writer.finish());
  EXPECT_GT(writer.written_by_caller(), 0u);
  close(null);
}
#endif

// With no thread the failed block's own put fails.
TEST(block_writer, a_failed_write_fails_the_next_block_and_the_end) {
  const int read_only = open("/dev/null", O_RDONLY);
  ASSERT_GE(read_only, 0);
  const unsigned char block[] = "abc";
  for (const bool own_thread : {true, false}) {
    block_writer writer(os_file{read_only}, 2, own_thread);
    EXPECT_EQ(writer.put(block, 3), own_thread);
    EXPECT_FALSE(writer.put(block, 3));
    EXPECT_FALSE(writer.finish());
  }
  close(read_only);
}
#endif

TEST(cpu_quota, the_tightest_quota_on_the_way_to_the_root_counts) {
  const std::map<std::string, std::string> files = {
      {"/sys/fs/cgroup/a/b/cpu.max", "max 100000\n"},
      {"/sys/fs/cgroup/a/cpu.max", "250000 100000\n"},
      {"/sys/fs/cgroup/cpu.max", "max 100000\n"},
      {"/sys/fs/cgroup/cpu/x/cpu.cfs_quota_us", "-1"},
      {"/sys/fs/cgroup/cpu/cpu.cfs_quota_us", "300000"},
      {"/sys/fs/cgroup/cpu/cpu.cfs_period_us", "100000"},
      {"/sys/fs/cgroup/memory/x/cpu.cfs_quota_us", "100000"}};
  const auto read = [&](const std::string& name) {
    const auto file = files.find(name);
    return file == files.end() ? std::string() : file->second;
  };
  // clang-format off
  const std::pair<std::string, int> groups[] = {
      {"0::/a/b\n", 2}, {"0::/a\n", 2}, {"0::/\n", INT_MAX}, {"0::/c\n", INT_MAX},
      {"4:cpu,cpuacct:/x\n", 3}, {"4:cpuacct,cpu:/\n", 3}, {"5:memory:/x\n", INT_MAX},
      {"3:cpuset:/x\n1:cpu:/x", 3}, {"0::/a\n1:cpu:/x", 2}, {"1:cpu:/x\n0::/a\n2:memory:/m", 2},
      {"", INT_MAX}, {"garbage", INT_MAX}};
  const std::pair<std::string, int> quotas[] = {
      {"max 100000", INT_MAX}, {"-1 100000", INT_MAX}, {"50000 100000", 1},
      {"199999 100000", 1}, {"200000 100000", 2}, {"100000", INT_MAX}, {"", INT_MAX}};
  // clang-format on
  for (const auto& [group, cpus] : groups) EXPECT_EQ(cgroup_cpus(group, read), cpus) << group;
  for (const auto& [text, cpus] : quotas) EXPECT_EQ(quota_cpus(text), cpus) << text;
}

TEST(names, utf16_and_utf8_convert_both_ways_without_loss) {
  // A lone surrogate (U+D800 is ED A0 80) is three bytes of its own; halves
  // in the wrong order are two lone ones.
  const std::pair<std::u16string, std::string> names[] = {
      {u"a\u00e9\u65e5", "a\xc3\xa9\xe6\x97\xa5"},
      {u"\U0001F600", "\xf0\x9f\x98\x80"},
      {{0xD800, u'x'}, "\xed\xa0\x80x"},
      {{0xDC00, 0xD800}, "\xed\xb0\x80\xed\xa0\x80"},
      // Each length's first and last code point, and those past the surrogates.
      {u"\u007f\u0080\u07ff\u0800", "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80"},
      {u"\ud7ff\ue000\uffff", "\xed\x9f\xbf\xee\x80\x80\xef\xbf\xbf"},
      {u"\U00010000\U0010FFFF", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf"},
  };
  for (const auto& [utf16, utf8] : names) {
    EXPECT_EQ(utf8_from_utf16(utf16), utf8);
    EXPECT_EQ(utf16_from_utf8(utf8), utf16);
  }
  // A stray continuation byte, an overlong '/', a cut-off sequence, U+110000,
  // overlong forms of U+07FF and U+FFFF, a sequence cut off by the end (the
  // byte past it, not the name's, would complete it).
  EXPECT_EQ(utf16_from_utf8("\x80z\xc0\xaf\xe6\x97\xf4\x90\x80\x80"),
            u"\uFFFDz\uFFFD\uFFFD\uFFFD\uFFFD");
  const std::string_view cut(
      "\xe0\x9f\xbf\xf0\x8f\xbf\xbf"
      "a\xf0\x90\x80\x80",
      11);
  EXPECT_EQ(utf16_from_utf8(cut), u"\uFFFD\uFFFDa\uFFFD");
}

}  // namespace
