// What the command line asks of a run's job.
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
};
