// One run's trimming job, as steps the run takes in this order:
//   open_input        the input, opened once; its identity and size
//   allocate_buffers  the read block and the output slots of combo
//   take_staging      the turn on binary.tmp (staging_file.h)
//   trim_pass         every byte of the input, trimmed into binary.tmp
//   stage_output      binary.tmp copied to the output (or to draft.txt)
//   finish_staging    binary.tmp removed, or kept with -y
// A step that fails returns false and says why in a run_failure, which the
// run reports; nothing below it writes to standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "trim/page_buffer.h"
#include "trim/platform.h"
#include "trim/staging_file.h"
#include "trim/trim_chunk.h"
#include "trim/trim_settings.h"

inline constexpr const char* fallback_output_name = "draft.txt";
inline constexpr const char* error_log_name = "error.txt";
inline constexpr int32_t size_cap = 104857600;
// Large enough that system calls cost little next to the bytes they move.
inline constexpr size_t default_read_size = size_t{1} << 20;
// One slot is trimmed into while the others wait to be written: with two
// waiting, the writer always has the next block when a write ends, and never
// waits for the thread that trims to wake up.
inline constexpr size_t output_slots = 3;

struct run_failure {
  std::string message;    // as written, with its line end where it has one
  std::string result_in;  // where the whole result is, once it was staged
};

struct trim_input {
  std::string name;
  owned_file file;
  file_facts opened;  // when it was opened; not regular for a pipe or device
  file_facts read;    // as the pass read it
};

struct job_buffers {
  int32_t buf_size = 0;  // what the messages report: min(cap, file size)
  size_t read_size = 0;  // bytes per read
  size_t slot_size = 0;  // bytes in each output slot of combo
  page_buffer in_buf;
  page_buffer combo;  // output_slots slots, taken in turn
};

// Where the output went, for finish_staging.
struct written_output {
  bool fallback = false;  // to draft.txt: the output named was not written
  std::string kept;       // an in-place result's own name, removed once done
  file_id kept_id;
};

// The names, before any file is opened: an input name, two names at most,
// neither the staging file by its spelling.
bool check_names(const trim_settings& s, run_failure* why);
bool open_input(const trim_settings& s, trim_input* in, run_failure* why);
bool allocate_buffers(const trim_input& in, job_buffers* b, run_failure* why);
bool hold_staging(const trim_input& in, staging_file* staging, run_failure* why);
bool trim_pass(const trim_settings& s, trim_input* in, job_buffers* b, staging_file* staging,
               run_failure* why);
bool stage_output(const trim_settings& s, const trim_input& in, job_buffers* b,
                  const staging_file& staging, written_output* out, run_failure* why);
bool finish_staging(const trim_settings& s, staging_file* staging, const written_output& out,
                    run_failure* why);

// The name an in-place run gives its result while it overwrites the input:
// no later run reuses it.
std::string kept_result_name(const std::string& dir, const std::string& out_name, const file_id& id,
                             int attempt);
// True when `name` is the staging file in the current directory, by any
// spelling or link.
bool names_staging_file(const std::string& name);
