#include "cli/driver.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

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
        s->crlf_mode = 1;
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

trim_settings scan_arguments(int argc, const char* const* argv) {
  trim_settings s;
  opt_parts parts;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "-r") == 0 || std::strcmp(arg, "-CRLF") == 0) {
      s.crlf_mode = 1;
    } else if (std::strcmp(arg, "-y") == 0) {
      s.keep_tmp = 1;
    } else if (std::strcmp(arg, "-m") == 0) {
      s.crlf_mode = 1;
      s.cut_len = 2;
    } else if (std::strcmp(arg, "-VC") == 0) {
      s.wants_usage = 2;
      return s;
    } else if (std::strcmp(arg, "-V") == 0) {
      s.wants_usage = 1;
      return s;
    } else if ((starts_with(arg, "-x") || starts_with(arg, "-w") || starts_with(arg, "-u")) &&
               take_numeric_option(arg, &parts, &s)) {
      // consumed
    } else if (++s.names == 1) {
      s.in_name = arg;
    } else if (s.names == 2) {
      s.out_name = arg;
    } else if (s.names == 3) {
      s.third_name = arg;
    }
  }
  return s;
}

bool names_staging_file(const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path staging = fs::weakly_canonical(fs::absolute(staging_name, ec), ec);
  if (ec) return false;
  if (same_file(name, staging_name)) return true;
  // Neither may exist yet: compare where the name leads once its links are
  // followed. A link whose target is missing still leads to that target.
  fs::path target = fs::absolute(file_path(name), ec);
  for (int hops = 0; hops < 40 && !ec; ++hops) {
    std::error_code link_ec;
    if (!fs::is_symlink(fs::symlink_status(target, link_ec))) break;
    const fs::path link = fs::read_symlink(target, ec);
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  if (ec) return false;
  const fs::path leads_to = fs::weakly_canonical(target, ec);
  return !ec && same_path(leads_to, staging);
}

int run_tavlen(int argc, const char* const* argv) {
  const trim_settings s = scan_arguments(argc, argv);
  if (s.wants_usage != 0) show_usage(tavlen_version, s.wants_usage == 2 ? 1 : 0);
  if (s.in_name.empty()) {
    std::fprintf(stderr, "strlen() error: zero size of file name\n");
    return 1;
  }
  // A glob that matched three files would have the last one overwritten.
  if (s.names > 2) {
    std::fprintf(stderr, "argv error: %s is a third file name\n", s.third_name.c_str());
    return 1;
  }
  for (const std::string* name : {&s.in_name, &s.out_name}) {
    // Spellings this finds are refused before any file is opened; the
    // trimming job refuses every other way to the file by what it opens.
    if (names_staging_file(*name)) return refuse_staging_name(*name);
  }
  trim_job job;
  if (job_setup(&job, s.in_name, s.out_name, size_cap, s.group_lines, s.cut_len, s.keep_tmp) == 0) {
    return 1;
  }
  const int status = trim_pass(&job, s.crlf_mode != 0 ? line_end::crlf : line_end::lf);
  job_teardown(&job);
  return status;
}
