#include "trim/trim_job.h"

#include "trim/block_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace {

int fail(const char* call, const std::string& name) {
  std::fprintf(stderr, "%s error: %s\n", call, name.c_str());
  return 1;
}

// Copies the whole staging file to `to` through `buf`; on failure says so.
int copy_staged(os_file from, os_file to, const std::string& to_name, unsigned char* buf,
                size_t buf_size) {
  if (copy_in_kernel(from, to)) return 0;
  for (;;) {
    const int64_t got = read_some(from, buf, buf_size);
    if (got < 0) return fail("fread()", staging_name);
    if (got == 0) return 0;
    if (!write_all(to, buf, static_cast<size_t>(got))) return fail("fwrite()", to_name);
  }
}

// The output named, or else draft.txt, which then must be new: a fallback
// that replaced a file would lose what the user kept there.
bool open_output(const std::string& out_name, os_file* out, std::string* written_name) {
  *written_name = out_name;
  const bool named_draft = out_name == fallback_output_name;
  if (open_for_writing(out_name, named_draft ? open_mode::working_file : open_mode::named_output,
                       out)) {
    return true;
  }
  *written_name = fallback_output_name;
  if (named_draft || !open_for_writing(fallback_output_name, open_mode::new_working_file, out)) {
    return false;
  }
  std::fprintf(stderr, "fopen() error: %s; the result is in %s\n", out_name.c_str(),
               fallback_output_name);
  return true;
}

// The output is open and is not the staging file. When it is the input, the
// input's only copy is about to be replaced: the result and its name are on
// disk first, and the new output before the staging file goes.
int fill_output(const trim_job* r, const staging_lock& staging, os_file out,
                const file_facts& facts, const std::string& out_name) {
  const bool in_place = facts.regular && facts.id == r->in_id;
  if (in_place && (!sync_file(staging.file) || !sync_current_directory())) {
    return fail("fwrite()", staging_name);
  }
  if (!rewind_file(staging.file)) return fail("fread()", staging_name);
  if (facts.regular && facts.size > 0 && !truncate_to_empty(out)) {
    return fail("fwrite()", out_name);
  }
  const int status =
      copy_staged(staging.file, out, out_name, r->combo, trim_out_bound(r->read_size));
  if (status == 0 && in_place && !sync_file(out)) return fail("fwrite()", out_name);
  return status;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(file_path(a), file_path(b), ec);
}

int refuse_staging_name(const std::string& name) {
  std::fprintf(stderr, "%s error: %s is the staging file\n", staging_name, name.c_str());
  return 1;
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
  if (!open_for_reading(r->in_name, &r->in)) {
    log_error("fopen() error-3:", r->in_name);
    return 1;  // the pass reports it
  }
  r->file_size = probe_size(r);
  if (r->file_size >= 0 && r->file_size < r->buf_size) {
    r->buf_size = static_cast<int32_t>(r->file_size);
  }
  // A size of 0 may be wrong (files made on the fly): only a read tells.
  r->read_size = r->file_size > 0 ? std::min(static_cast<size_t>(r->buf_size), default_read_size)
                                  : default_read_size;
  r->in_buf = static_cast<unsigned char*>(std::malloc(r->read_size));
  if (r->in_buf == nullptr) {
    std::fprintf(stderr, "malloc() error: %d bytes", r->buf_size);
    job_teardown(r);
    return 0;
  }
  r->combo = static_cast<unsigned char*>(std::malloc(2 * trim_out_bound(r->read_size)));
  if (r->combo == nullptr) {
    std::fprintf(stderr, "r->combo == NULL error: %d bytes", r->buf_size);
    job_teardown(r);
    return 0;
  }
  r->first_read = read_some(r->in, r->in_buf, r->read_size);
  if (r->first_read == 0) {
    std::fprintf(stderr, "malloc() error: %d bytes", 0);
    job_teardown(r);
    return 0;
  }
  return 1;
}

int64_t probe_size(trim_job* r) {
  file_facts facts;
  const bool known = describe(r->in, &facts);
  r->in_id = facts.id;
  if (!known || !facts.regular) {
    log_error("ftell() error:", r->in_name);
    return -1;
  }
  return facts.size;
}

void log_error(const char* message, const std::string& name) {
  // Best effort, and never through a link: the message on standard error is
  // what the user reads.
  os_file log;
  if (!open_for_writing(error_log_name, open_mode::working_file, &log)) return;
  file_facts facts;
  if (describe(log, &facts) && single_plain_file(facts) && truncate_to_empty(log)) {
    const std::string entry = std::string(message) + " " + name;
    write_all(log, entry.data(), entry.size());
  }
  close_file(&log);
}

namespace {

int trim_pass_held(trim_job* r, line_end variant, const staging_lock& staging) {
  // Its size now, not when it was opened: a run we waited for may have grown
  // it. An empty one is left alone, as truncating makes some file systems
  // write the file out when it is closed.
  file_facts staged;
  if (!describe(staging.file, &staged)) return fail("fopen()", staging_name);
  if (staged.size > 0 && !truncate_to_empty(staging.file)) return fail("fwrite()", staging_name);
  trim_carry carry;
  trim_start(&carry, r->group_lines, r->cut_len, variant);
  // Each trimmed block is written while the next is read and trimmed into
  // the other half of combo.
  block_writer writer;
  writer_start(&writer, staging.file);
  unsigned char* out = r->combo + trim_out_bound(r->read_size);
  int64_t got = r->first_read;
  for (; got > 0; got = read_some(r->in, r->in_buf, r->read_size)) {
    out = out == r->combo ? r->combo + trim_out_bound(r->read_size) : r->combo;
    const size_t made = trim_chunk(&carry, r->in_buf, static_cast<size_t>(got), out);
    if (!writer_put(&writer, out, made)) break;
  }
  if (!writer_stop(&writer)) return fail("fwrite()", staging_name);
  if (got < 0) return fail("fread()", r->in_name);
  close_file(&r->in);
  return stage_output(r, staging);
}

}  // namespace

int trim_pass(trim_job* r, line_end variant) {
  if (r->in.handle == -1) {
    std::fprintf(stderr,
                 variant == line_end::crlf ? "fopen() error-1: %s\n" : "fopen() error-2: %s\n",
                 r->in_name.c_str());
    return 1;
  }
  if (r->first_read < 0) return fail("fread()", r->in_name);
  // Runs in one directory share the staging file: each waits its turn, from
  // before the file is written until it has been copied and removed.
  staging_lock staging;
  if (lock_staging(staging_name, &staging) != staging_status::held) {
    return fail("fopen()", staging_name);
  }
  int status = staging.id == r->in_id ? refuse_staging_name(r->in_name)
                                      : trim_pass_held(r, variant, staging);
  // A kept result must be whole; one that was removed no longer matters.
  if (!unlock_staging(&staging) && status == 0 && r->keep_tmp != 0) {
    status = fail("fwrite()", staging_name);
  }
  return status;
}

int stage_output(const trim_job* r, const staging_lock& staging) {
  os_file out;
  std::string out_name;
  if (!open_output(r->out_name, &out, &out_name)) return fail("fopen()", fallback_output_name);
  file_facts facts;
  const bool known = describe(out, &facts);
  int status = known && facts.id == staging.id
                   ? refuse_staging_name(out_name)
                   : fill_output(r, staging, out, known ? facts : file_facts{}, out_name);
  if (!close_file(&out) && status == 0) status = fail("fwrite()", out_name);
  // A failed run keeps the staging file: it may be the only complete result.
  if (status == 0 && r->keep_tmp == 0) remove_staging(staging_name, staging);
  return status;
}

void job_teardown(trim_job* r) {
  std::free(r->in_buf);
  std::free(r->combo);
  r->in_buf = nullptr;
  r->combo = nullptr;
  close_file(&r->in);
}
