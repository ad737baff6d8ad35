// One run's trimming job: size the input, allocate the buffers, pass the
// input through trim_chunk into the staging file, copy that to the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "trim/trim_chunk.h"

inline constexpr const char* staging_name = "binary.tmp";
inline constexpr const char* fallback_output_name = "draft.txt";
inline constexpr const char* error_log_name = "error.txt";
inline constexpr int32_t size_cap = 104857600;
// Small enough that a chunk and its trimmed copies stay in the CPU cache.
inline constexpr size_t default_read_size = size_t{1} << 18;
inline constexpr size_t staging_copy_chunk = 2560;

struct trim_job {
  int keep_tmp = 0;
  unsigned char* in_buf = nullptr;  // read_size bytes
  unsigned char* combo = nullptr;   // trim_out_bound(read_size) bytes
  int32_t buf_size = 0;             // what the messages report: min(cap, file size)
  size_t read_size = 0;             // bytes per read
  int32_t group_lines = 1;
  int32_t cut_len = 1;
  int64_t file_size = -1;
  std::string in_name;
  std::string out_name;
};

// 1 ready, 0 failed (the message is written).
int job_setup(trim_job* r, const std::string& in_name, const std::string& out_name, int32_t cap,
              int32_t group_lines, int32_t cut_len, int keep_tmp);

// 0 done, 1 failed (the message is written), -2 staging file unreadable.
int trim_pass(trim_job* r, line_end variant);
// The input's name keeps the fallback to draft.txt from overwriting it.
int stage_output(const std::string& out_name, int keep_tmp, const std::string& in_name);

int64_t probe_size(const std::string& name);
// True when both names reach one existing file, by any spelling or link.
bool same_file(const std::string& a, const std::string& b);
void log_error(const char* message, const std::string& name);
void job_teardown(trim_job* r);
