// One run's trimming job, as steps the run takes in this order:
//   check_names       neither name the staging file, before any file is opened
//   (staging_file.h)  the turn on binary.tmp
//   open_input        the input, opened once; its identity and size
//   allocate_buffers  the read block and the output slots
//   trim_pass         every byte of the input, trimmed into binary.tmp
//   stage_output      binary.tmp copied to the output (or to draft.txt);
//                     in place, by the steps of in_place.h
//   finish_staging    the kept name and binary.tmp removed (binary.tmp kept
//                     with -y), and the turn let go
// A step that fails returns false and says why in a run_failure; the run
// asks whole_result where the result is, and reports both. Nothing below it
// writes to standard error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "trim/in_place.h"
#include "trim/page_buffer.h"
#include "trim/platform.h"
#include "trim/run_failure.h"
#include "trim/staging_file.h"
#include "trim/trim_chunk.h"
#include "trim/trim_settings.h"

inline constexpr const char* fallback_output_name = "draft.txt";
inline constexpr const char* error_log_name = "error.txt";
// The allocation messages report the input's size, up to this: the number a
// run has always shown for a pipe. Nothing else is capped.
inline constexpr int32_t reported_size_cap = 104857600;
// Large enough that system calls cost little next to the bytes they move.
inline constexpr size_t default_read_size = size_t{1} << 20;
// One slot is trimmed into while the others wait to be written: with two
// waiting, the writer always has the next block when a write ends, and never
// waits for the thread that trims to wake up.
inline constexpr size_t output_slots = 3;

struct trim_input {
  std::string name;
  owned_file file;
  file_facts opened;   // when it was opened; not regular for a pipe or device
  file_facts read;     // as the pass read it
  bool logged = true;  // false when error.txt was begun and not finished
};

struct job_buffers {
  int32_t reported_size = 0;  // what the allocation messages report
  size_t read_size = 0;       // bytes per read
  size_t slot_size = 0;       // bytes in each output slot
  page_buffer in_buf;
  page_buffer out_slots;  // output_slots slots, taken in turn
};

// Where the output went.
struct written_output {
  bool fallback = false;  // to draft.txt: the output named was not written
  bool unlocked = false;  // where the file system has no locks
  in_place_replacement replacement;
};

bool check_names(const trim_settings& s, run_failure* why);
bool open_input(const trim_settings& s, const staging_file& staging, trim_input* in,
                run_failure* why);
bool allocate_buffers(const trim_input& in, job_buffers* b, run_failure* why);
bool trim_pass(const trim_settings& s, trim_input* in, job_buffers* b, staging_file* staging,
               run_failure* why);
bool stage_output(const trim_settings& s, const trim_input& in, job_buffers* b,
                  const staging_file& staging, written_output* out, run_failure* why);
bool finish_staging(const trim_settings& s, staging_file* staging, written_output* out,
                    run_failure* why);

// The file that holds the whole result once a step failed, if any does.
std::string whole_result(const staging_file& staging, const written_output& out);
// "binary.tmp error: NAME is the staging file"
bool refused_as_staging(run_failure* why, const std::string& name);
