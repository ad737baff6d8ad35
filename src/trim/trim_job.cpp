#include "trim/trim_job.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "trim/platform.h"

namespace {

// Flushes and closes a stream that was written; false if either failed.
bool close_written(std::FILE* f) {
  const bool flushed = std::fflush(f) == 0 && std::ferror(f) == 0;
  return std::fclose(f) == 0 && flushed;
}

// The lock has just made the staging file, empty. Truncating a file, even an
// empty one, makes ext4 write it out on close, which cost a third of a run:
// only a file left with bytes in it is truncated.
std::FILE* open_staging_for_write() {
  std::FILE* f = std::fopen(staging_name, "r+b");
  if (f != nullptr && stream_size(f) == 0) return f;  // at its start, being empty
  if (f != nullptr) std::fclose(f);
  return std::fopen(staging_name, "wb");
}

int fail_staging_write() {
  std::fprintf(stderr, "fwrite() error: %s\n", staging_name);
  return 1;
}

// Copies the whole staging file to `to`; on failure says so and returns 1.
int copy_staged(std::FILE* from, std::FILE* to, const char* to_name) {
  if (copy_in_kernel(from, to)) return 0;
  unsigned char chunk[staging_copy_chunk];
  for (;;) {
    const size_t got = std::fread(chunk, 1, sizeof chunk, from);
    if (got > 0 && std::fwrite(chunk, 1, got, to) != got) {
      std::fprintf(stderr, "fwrite() error: %s\n", to_name);
      return 1;
    }
    if (got < sizeof chunk) break;
  }
  if (std::ferror(from)) {
    std::fprintf(stderr, "fread() error: %s\n", staging_name);
    return 1;
  }
  return 0;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(file_path(a), file_path(b), ec);
}

int job_setup(trim_job* r, const std::string& in_name, const std::string& out_name, int32_t cap,
              int32_t group_lines, int32_t cut_len, int keep_tmp) {
  r->in_buf = nullptr;
  r->combo = nullptr;
  r->in_name = in_name;
  r->out_name = out_name;
  r->buf_size = cap;
  r->group_lines = group_lines;
  r->keep_tmp = keep_tmp;
  r->cut_len = cut_len;
  r->file_size = probe_size(r->in_name);
  // An input that cannot be sized is still read to its end, a chunk at a time.
  if (r->file_size >= 0 && r->file_size < r->buf_size) {
    r->buf_size = static_cast<int32_t>(r->file_size);
  }
  r->read_size = std::min(static_cast<size_t>(r->buf_size), default_read_size);
  if (r->read_size > 0) r->in_buf = static_cast<unsigned char*>(std::malloc(r->read_size));
  if (r->in_buf == nullptr) {
    std::fprintf(stderr, "malloc() error: %d bytes", r->buf_size);
    return 0;
  }
  r->combo = static_cast<unsigned char*>(std::malloc(trim_out_bound(r->read_size)));
  if (r->combo == nullptr) {
    std::fprintf(stderr, "r->combo == NULL error: %d bytes", r->buf_size);
    job_teardown(r);
    return 0;
  }
  return 1;
}

int64_t probe_size(const std::string& name) {
  if (names_fifo(name.c_str())) {
    log_error("ftell() error:", name);
    return -1;
  }
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (f == nullptr) {
    log_error("fopen() error-3:", name);
    return -1;
  }
  int64_t size = stream_size(f);
  if (size < 0) {
    log_error("ftell() error:", name);
    size = -1;
  }
  std::fclose(f);
  return size;
}

void log_error(const char* message, const std::string& name) {
  // Best effort: the log only adds to the message on standard error.
  std::FILE* log = std::fopen(error_log_name, "wt");
  if (log == nullptr) return;
  std::fprintf(log, "%s %s", message, name.c_str());
  std::fclose(log);
}

namespace {

int trim_pass_held(trim_job* r, line_end variant) {
  std::FILE* staged = open_staging_for_write();
  if (staged == nullptr) {
    std::fprintf(stderr, "fopen() error: %s\n", staging_name);
    return 1;
  }
  std::FILE* in = std::fopen(r->in_name.c_str(), "rb");
  if (in == nullptr) {
    std::fprintf(stderr,
                 variant == line_end::crlf ? "fopen() error-1: %s\n" : "fopen() error-2: %s\n",
                 r->in_name.c_str());
    std::fclose(staged);
    return 1;
  }
  trim_carry carry;
  trim_start(&carry, r->group_lines, r->cut_len, variant);
  for (;;) {
    const size_t got = std::fread(r->in_buf, 1, r->read_size, in);
    const size_t made = trim_chunk(&carry, r->in_buf, got, r->combo);
    if (std::fwrite(r->combo, 1, made, staged) != made) {
      std::fclose(in);
      std::fclose(staged);
      return fail_staging_write();
    }
    if (got < r->read_size) break;
  }
  const bool read_failed = std::ferror(in) != 0;
  std::fclose(in);
  if (read_failed) {
    std::fprintf(stderr, "fread() error: %s\n", r->in_name.c_str());
    std::fclose(staged);
    return 1;
  }
  if (!close_written(staged)) return fail_staging_write();
  return stage_output(r->out_name, r->keep_tmp, r->in_name);
}

}  // namespace

int trim_pass(trim_job* r, line_end variant) {
  // Runs in one directory share the staging file: each waits its turn, from
  // before the file is written until it has been copied and removed.
  staging_lock lock = lock_staging(staging_name);
  const int status = trim_pass_held(r, variant);
  unlock_staging(&lock);
  return status;
}

int stage_output(const std::string& out_name, int keep_tmp, const std::string& in_name) {
  // Without the staged result there is nothing to write: the output stays as it was.
  std::FILE* staged = std::fopen(staging_name, "rb");
  if (staged == nullptr) return -2;
  const char* written_name = out_name.c_str();
  std::FILE* out = std::fopen(written_name, "wb");
  // The fallback must not replace an input that was not named as the output.
  if (out == nullptr && !same_file(in_name, fallback_output_name)) {
    written_name = fallback_output_name;
    out = std::fopen(written_name, "wb");
  }
  if (out == nullptr) {
    std::fprintf(stderr, "fopen() error: %s\n", fallback_output_name);
    std::fclose(staged);
    return 1;
  }
  use_copy_buffer(staged);
  use_copy_buffer(out);
  int status = copy_staged(staged, out, written_name);
  if (!close_written(out) && status == 0) {
    std::fprintf(stderr, "fwrite() error: %s\n", written_name);
    status = 1;
  }
  std::fclose(staged);
  // A failed copy keeps the staging file: it is the only complete result.
  if (status == 0 && keep_tmp == 0) std::remove(staging_name);
  return status;
}

void job_teardown(trim_job* r) {
  std::free(r->in_buf);
  std::free(r->combo);
  r->in_buf = nullptr;
  r->combo = nullptr;
}
