// The command line: arguments to trim settings, then one trimming job.
#pragma once

#include <cstdint>
#include <string>

struct trim_settings {
  int crlf_mode = 0;
  int keep_tmp = 0;
  int32_t group_lines = 1;
  int32_t cut_len = 1;
  std::string in_name;
  std::string out_name = "draft.txt";
  int names = 0;           // positional names given
  std::string third_name;  // the first past the output: a run with one is refused
  int wants_usage = 0;     // "-V" asks for 1, "-VC" for 2; the scan stops there
};

// Records every argument after argv[0], left to right; opens nothing.
trim_settings scan_arguments(int argc, const char* const* argv);

// True when `name` is the staging file in the current directory, by any
// spelling or link.
bool names_staging_file(const std::string& name);

// The whole run; returns the exit status.
int run_tavlen(int argc, const char* const* argv);
