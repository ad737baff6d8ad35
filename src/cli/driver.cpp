#include "cli/driver.h"

#include <cstring>
#include <string>

#include "cli/option_splitter.h"
#include "cli/usage.h"
#include "trim/platform.h"
#include "trim/trim_job.h"

namespace {

bool starts_with(const char* arg, const char* text) {
  return std::strncmp(arg, text, std::strlen(text)) == 0;
}

// '-xN', '-wN', '-uN'. False when other bytes stand between the letter and
// the digits: the argument is then a file name.
bool take_numeric_option(const char* arg, opt_parts* parts, trim_settings* s) {
  opt_split(parts, arg);
  const int32_t n = opt_number(parts);
  const bool exact = opt_prefix(parts).size() == 2;
  switch (arg[1]) {
    case 'x':
      s->group_lines = exact ? n : 1;
      if (exact) {
        s->crlf_mode = true;
        s->cut_len = static_cast<int32_t>(2u * static_cast<uint32_t>(n) - 1u);
      }
      break;
    case 'w':
      s->group_lines = exact ? n : 1;
      break;
    default:
      s->cut_len = exact ? n : 1;
      break;
  }
  return exact;
}

}  // namespace

command_line scan_arguments(int argc, const char* const* argv) {
  command_line c;
  trim_settings& s = c.settings;
  opt_parts parts;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "-r") == 0 || std::strcmp(arg, "-CRLF") == 0) {
      s.crlf_mode = true;
    } else if (std::strcmp(arg, "-y") == 0) {
      s.keep_tmp = true;
    } else if (std::strcmp(arg, "-m") == 0) {
      s.crlf_mode = true;
      s.cut_len = 2;
    } else if (std::strcmp(arg, "-VC") == 0) {
      c.wants_usage = 2;
      return c;
    } else if (std::strcmp(arg, "-V") == 0 || asks_for_usage(arg)) {
      c.wants_usage = 1;
      return c;
    } else if ((starts_with(arg, "-x") || starts_with(arg, "-w") || starts_with(arg, "-u")) &&
               take_numeric_option(arg, &parts, &s)) {
      // consumed
    } else if (++c.names == 1) {
      s.in_name = arg;
    } else if (c.names == 2) {
      s.out_name = arg;
    } else if (c.names == 3) {
      c.third_name = arg;
    }
  }
  return c;
}

namespace {

int report(const run_failure& why) {
  write_message(why.message);
  if (!why.result_in.empty()) write_message("the result is in " + why.result_in + "\n");
  return 1;
}

}  // namespace

int run_tavlen(int argc, const char* const* argv) {
  const command_line c = scan_arguments(argc, argv);
  if (c.wants_usage != 0) show_usage(tavlen_version, c.wants_usage == 2 ? 1 : 0);
  const trim_settings& s = c.settings;
  run_failure why;
  if (s.in_name.empty()) {
    why.message = "strlen() error: zero size of file name\n";
    return report(why);
  }
  // A glob that matched three files would have the last one overwritten.
  if (c.names > 2) {
    failed(&why, "argv", c.third_name + " is a third file name");
    return report(why);
  }
  if (!check_names(s, &why)) return report(why);
  // Runs in one folder take turns, from before the input is opened until
  // the output is written: a run that waits holds no file another may
  // replace meanwhile.
  staging_file staging;
  if (!staging.take()) {
    failed(&why, "fopen()", staging_name);
    return report(why);
  }
  if (!staging.locked()) {
    write_message(std::string("flock() error: ") + staging_name +
                  "; runs in this folder must not overlap\n");
  }
  trim_input in;
  job_buffers buffers;
  written_output out;
  const bool done = open_input(s, staging, &in, &why) && allocate_buffers(in, &buffers, &why) &&
                    trim_pass(s, &in, &buffers, &staging, &why) &&
                    stage_output(s, in, &buffers, staging, &out, &why) &&
                    finish_staging(s, &staging, &out, &why);
  if (!in.logged) write_message(std::string("fwrite() error: ") + error_log_name + "\n");
  if (out.unlocked) {
    write_message("flock() error: " + s.out_name + "; runs writing it must not overlap\n");
  }
  if (done) return 0;
  why.result_in = whole_result(staging, out);
  return report(why);
}
