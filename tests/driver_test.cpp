#include "cli/driver.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "cli/option_splitter.h"

namespace {

trim_settings scan(std::vector<const char*> args) {
  args.insert(args.begin(), "tavlen");
  return scan_arguments(static_cast<int>(args.size()), args.data());
}

TEST(option_splitter, splits_trailing_digits) {
  const struct {
    const char *arg, *prefix, *digits;
    int32_t number;
  } cases[] = {{"-x12", "-x", "12", 12},
               {"-x", "-x", "", 0},
               {"-w007", "-w", "007", 7},
               {"-u2b", "-u2b", "", 0},
               {"-uq7", "-uq", "7", 7},
               {"-x99999999999", "-x", "99999999999", INT32_MAX},
               {"-x2147483647", "-x", "2147483647", INT32_MAX},
               {"-x2147483648", "-x", "2147483648", INT32_MAX},
               {"123", "", "123", 123}};
  opt_parts parts;
  for (const auto& c : cases) {
    opt_split(&parts, c.arg);
    EXPECT_EQ(opt_prefix(&parts), c.prefix) << c.arg;
    EXPECT_EQ(parts.digits, c.digits) << c.arg;
    EXPECT_EQ(opt_number(&parts), c.number) << c.arg;
    EXPECT_EQ(parts.prefix_length + parts.digit_count, parts.length) << c.arg;
  }
}

TEST(scan_arguments, numeric_options_set_group_cut_and_variant) {
  const struct {
    std::vector<const char*> args;
    int32_t group_lines, cut_len, crlf_mode;
    const char *in_name, *out_name;
  } cases[] = {
      {{"-x2", "t"}, 2, 3, 1, "t", "draft.txt"},
      {{"-x12", "t"}, 12, 23, 1, "t", "draft.txt"},
      {{"-x", "t"}, 0, -1, 1, "t", "draft.txt"},
      {{"-x0", "t"}, 0, -1, 1, "t", "draft.txt"},
      {{"-x99999999999", "t"}, INT32_MAX, -3, 1, "t", "draft.txt"},
      {{"-xa", "t"}, 1, 1, 0, "-xa", "t"},
      {{"-w3", "t"}, 3, 1, 0, "t", "draft.txt"},
      {{"-w", "t"}, 0, 1, 0, "t", "draft.txt"},
      {{"-w007", "t"}, 7, 1, 0, "t", "draft.txt"},
      {{"-u3", "t"}, 1, 3, 0, "t", "draft.txt"},
      {{"-u", "t"}, 1, 0, 0, "t", "draft.txt"},
      {{"-u5", "-uq", "t"}, 1, 1, 0, "-uq", "t"},
      {{"-u3", "-w2", "text"}, 2, 3, 0, "text", "draft.txt"},
      {{"-w3", "-xfoo", "text"}, 1, 1, 0, "-xfoo", "text"},
      {{"-x0", "-u5", "text"}, 0, 5, 1, "text", "draft.txt"},
      {{"-m", "-u7", "text"}, 1, 7, 1, "text", "draft.txt"},
      {{"-m2", "-r1", "-crlf", "-y2"}, 1, 1, 0, "-m2", "-y2"},
      {{"text", "-r", "a", "b"}, 1, 1, 1, "text", "b"},
  };
  for (const auto& c : cases) {
    const trim_settings s = scan(c.args);
    const std::string label = testing::PrintToString(c.args);
    EXPECT_EQ(s.group_lines, c.group_lines) << label;
    EXPECT_EQ(s.cut_len, c.cut_len) << label;
    EXPECT_EQ(s.crlf_mode, c.crlf_mode) << label;
    EXPECT_EQ(s.in_name, c.in_name) << label;
    EXPECT_EQ(s.out_name, c.out_name) << label;
    EXPECT_EQ(s.wants_usage, 0) << label;
  }
}

TEST(scan_arguments, usage_stops_the_scan_and_names_are_kept_whole) {
  EXPECT_EQ(scan({"-y", "-V", "in"}).wants_usage, 1);
  EXPECT_EQ(scan({"-y", "-V", "in"}).in_name, "");
  EXPECT_EQ(scan({"in", "-VC", "-V"}).wants_usage, 2);
  EXPECT_EQ(scan({"-Vx"}).in_name, "-Vx");
  const std::string name(300, 'n');
  EXPECT_EQ(scan({name.c_str()}).in_name, name);
}

}  // namespace
