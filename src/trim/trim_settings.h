// What the command line asks of a run: filled by the scan, read by the job.
#pragma once

#include <cstdint>
#include <string>

struct trim_settings {
  bool crlf_mode = false;
  bool keep_tmp = false;
  int32_t group_lines = 1;
  int32_t cut_len = 1;
  std::string in_name;
  std::string out_name = "draft.txt";
  int names = 0;           // positional names given
  std::string third_name;  // the first past the output: a run with one is refused
  int wants_usage = 0;     // "-V" asks for 1, "-VC" for 2; the scan stops there
};
