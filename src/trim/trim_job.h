// One run's trimming job: size the input, allocate the buffers, pass the
// input through trim_chunk into the staging file, copy that to the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "trim/platform.h"
#include "trim/trim_chunk.h"

inline constexpr const char* staging_name = "binary.tmp";
inline constexpr const char* fallback_output_name = "draft.txt";
inline constexpr const char* error_log_name = "error.txt";
inline constexpr int32_t size_cap = 104857600;
// Large enough that system calls cost little next to the bytes they move.
inline constexpr size_t default_read_size = size_t{1} << 20;

struct trim_job {
  int keep_tmp = 0;
  unsigned char* in_buf = nullptr;  // read_size bytes
  unsigned char* combo = nullptr;   // twice trim_out_bound(read_size) bytes
  int32_t buf_size = 0;             // what the messages report: min(cap, file size)
  size_t read_size = 0;             // bytes per read
  int32_t group_lines = 1;
  int32_t cut_len = 1;
  int64_t file_size = -1;  // -1 when the input is not a regular file
  std::string in_name;
  std::string out_name;
  // The input, opened once by job_setup; no handle when it could not be.
  os_file in;
  file_id in_id;
  file_facts in_read;  // the input as the pass read it, when it is a regular file
};

// 1 ready, 0 failed (the message is written).
int job_setup(trim_job* r, const std::string& in_name, const std::string& out_name, int32_t cap,
              int32_t group_lines, int32_t cut_len, int keep_tmp);

// 0 done, 1 failed (the message is written, and where the result is, if
// it was staged).
int trim_pass(trim_job* r, line_end variant);
// Copies the staging file the lock holds to the output; 0 done, 1 failed.
int stage_output(const trim_job* r, const staging_lock& staging);
// The name an in-place run gives its result while it overwrites the input:
// no later run reuses it.
std::string kept_result_name(const std::string& dir, const std::string& out_name, const file_id& id,
                             int attempt);

// Size of the open input, which it also tells apart from every other file;
// -1 (logged) when the input has no size, as a pipe has none.
int64_t probe_size(trim_job* r);
// Refuses a name that reaches the staging file; returns the status, 1.
int refuse_staging_name(const std::string& name);
// True when both names reach one existing file, by any spelling or link.
bool same_file(const std::string& a, const std::string& b);
void log_error(const char* message, const std::string& name);
void job_teardown(trim_job* r);
