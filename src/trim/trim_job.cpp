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

// The second line of a failure that left a whole result behind.
int result_is_in(const std::string& name) {
  std::fprintf(stderr, "the result is in %s\n", name.c_str());
  return 1;
}

// Copies the whole staging file to `to` through `buf`; on failure says so.
int copy_staged(os_file from, os_file to, const std::string& to_name, unsigned char* buf,
                size_t buf_size) {
  if (!rewind_file(from)) return fail("fread()", staging_name);
  if (copy_in_kernel(from, to)) return 0;
  for (;;) {
    const int64_t got = read_some(from, buf, buf_size);
    if (got < 0) return fail("fread()", staging_name);
    if (got == 0) return 0;
    if (!write_all(to, buf, static_cast<size_t>(got))) return fail("fwrite()", to_name);
  }
}

// Both names lead to one place, whatever is there now.
bool same_place(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code ec_a;
  std::error_code ec_b;
  const fs::path pa = fs::weakly_canonical(fs::absolute(file_path(a), ec_a), ec_a);
  const fs::path pb = fs::weakly_canonical(fs::absolute(file_path(b), ec_b), ec_b);
  return !ec_a && !ec_b && same_path(pa, pb);
}

// A second name for the result, made and on disk before an in-place run
// truncates the only other copy: binary.tmp is reused by every run. In the
// current directory it is a link; where that directory lives in RAM, a copy
// beside the output.
struct kept_result {
  std::string name;  // empty until it is made
  file_id id;
};

bool link_result(const staging_lock& staging, const std::string& out_name, kept_result* kept) {
  if (!survives_power_cut("") || !sync_file(staging.file)) return false;
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::string name = kept_result_name("", out_name, staging.id, attempt);
    if (add_name(staging_name, name)) {
      if (sync_directory("")) {
        *kept = {name, staging.id};
        return true;
      }
      remove_name(name, staging.id);
      return false;
    }
  }
  return false;
}

bool copy_result(const trim_job* r, const staging_lock& staging, kept_result* kept) {
  const std::string dir = r->out_name.substr(0, name_start(r->out_name));
  os_file copy;
  for (int attempt = 0; attempt < 10 && copy.handle == -1; ++attempt) {
    kept->name = kept_result_name(dir, r->out_name, staging.id, attempt);
    open_for_writing(kept->name, open_mode::new_private_file, &copy);
  }
  if (copy.handle == -1) {
    kept->name.clear();
    return false;
  }
  file_facts facts;
  bool made = describe(copy, &facts);
  kept->id = facts.id;
  made = made &&
         copy_staged(staging.file, copy, kept->name, r->combo, trim_out_bound(r->read_size)) == 0 &&
         sync_file(copy);
  made = close_file(&copy) && made && sync_directory(dir);
  if (!made) {
    remove_name(kept->name, kept->id);
    kept->name.clear();
  }
  return made;
}

// The output is open and is not the staging file. Writing it waits for any
// other run that writes it. When it is the input, the input's only copy is
// about to be replaced: the result is on disk under a name of its own first,
// and the new output before that name goes.
int fill_output(const trim_job* r, const staging_lock& staging, os_file out, file_facts facts,
                const std::string& out_name, kept_result* kept) {
  const bool in_place = facts.regular && facts.id == r->in_id;
  // The name the input was read from now leads to another file: the input
  // was replaced during the run, and its new version is not this run's.
  if (!in_place && facts.regular && r->in_read.regular && same_place(r->in_name, out_name)) {
    fail("fwrite()", out_name + " changed since it was read");
    return result_is_in(staging_name);
  }
  if (facts.regular) {
    lock_exclusive(out);
    if (!describe(out, &facts)) {
      fail("fopen()", out_name);
      return result_is_in(staging_name);
    }
  }
  // Another program wrote the file, or put a new one in its place, while
  // this run read it or waited for it: that version is not this run's.
  if ((in_place && !same_version(facts, r->in_read)) ||
      (facts.regular && !names_file(out_name, facts.id))) {
    fail("fwrite()", out_name + " changed since it was read");
    return result_is_in(staging_name);
  }
  if (in_place && !link_result(staging, out_name, kept) && !copy_result(r, staging, kept)) {
    const std::string dir = survives_power_cut("") ? "" : out_name.substr(0, name_start(out_name));
    fail("fopen()", kept_result_name(dir, out_name, staging.id, 0));
    return result_is_in(staging_name);
  }
  const std::string& whole = kept->name.empty() ? std::string(staging_name) : kept->name;
  if (facts.regular && facts.size > 0 && !truncate_to_empty(out)) {
    fail("fwrite()", out_name);
    return result_is_in(whole);
  }
  if (copy_staged(staging.file, out, out_name, r->combo, trim_out_bound(r->read_size)) != 0 ||
      (in_place && !sync_file(out) && fail("fwrite()", out_name))) {
    return result_is_in(whole);
  }
  return 0;
}

}  // namespace

std::string kept_result_name(const std::string& dir, const std::string& out_name, const file_id& id,
                             int attempt) {
  // Short enough for any file system's limit on one name, and never half a
  // character.
  std::string base = out_name.substr(name_start(out_name));
  if (base.size() > 200) {
    size_t cut = 200;
    while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) --cut;
    base.resize(cut);
  }
  std::string name = dir;
  name.append(base).append(".trimmed-").append(std::to_string(id.index));
  if (attempt > 0) name.append("-").append(std::to_string(attempt + 1));
  return name;
}

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
  // Best effort, and never through a link or into another user's file: the
  // message on standard error is what the user reads.
  os_file log;
  if (!open_for_writing(error_log_name, open_mode::working_file, &log)) return;
  file_facts facts;
  if (describe(log, &facts) && own_plain_file(facts) && truncate_to_empty(log)) {
    const std::string entry = std::string(message) + " " + name;
    write_all(log, entry.data(), entry.size());
  }
  close_file(&log);
}

namespace {

// Runs with the turn held, so every byte it reads is of the version no other
// run in the folder changes meanwhile.
int trim_pass_held(trim_job* r, line_end variant, const staging_lock& staging) {
  file_facts before;
  const bool sized = describe(r->in, &before) && before.regular;
  int64_t got = read_some(r->in, r->in_buf, r->read_size);
  if (got <= 0) {
    // Nothing was written: a staging file kept from before stays as it was.
    if (staging.created) remove_name(staging_name, staging.id);
    if (got < 0) return fail("fread()", r->in_name);
    std::fprintf(stderr, "malloc() error: %d bytes", 0);
    return 1;
  }
  // Its size now, not when it was opened: a run we waited for may have grown
  // it. An empty one is left alone, as truncating makes some file systems
  // write the file out when it is closed.
  file_facts staged;
  if (!describe(staging.file, &staged) || (staged.size > 0 && !truncate_to_empty(staging.file))) {
    remove_name(staging_name, staging.id);
    return fail("fwrite()", staging_name);
  }
  trim_carry carry;
  trim_start(&carry, r->group_lines, r->cut_len, variant);
  // Each trimmed block is written while the next is read and trimmed into
  // the other half of combo.
  block_writer writer;
  writer_start(&writer, staging.file);
  unsigned char* out = r->combo + trim_out_bound(r->read_size);
  for (; got > 0; got = read_some(r->in, r->in_buf, r->read_size)) {
    out = out == r->combo ? r->combo + trim_out_bound(r->read_size) : r->combo;
    const size_t made = trim_chunk(&carry, r->in_buf, static_cast<size_t>(got), out);
    if (!writer_put(&writer, out, made)) break;
  }
  int status = 0;
  if (!writer_stop(&writer)) {
    status = fail("fwrite()", staging_name);
  } else if (got < 0) {
    status = fail("fread()", r->in_name);
  } else if (sized && (!describe(r->in, &r->in_read) || !same_version(before, r->in_read))) {
    status = fail("fread()", r->in_name + " changed while it was read");
  }
  // A partial result must not pass for a whole one.
  if (status != 0) {
    remove_name(staging_name, staging.id);
    return status;
  }
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
  // Runs in one directory share the staging file: each waits its turn, from
  // before the input is read until the output is written.
  staging_lock staging;
  const staging_status held = lock_staging(staging_name, &staging);
  if (held == staging_status::unusable) return fail("fopen()", staging_name);
  if (held == staging_status::held_without_lock) {
    fail("flock()", std::string(staging_name) + "; runs in this folder must not overlap");
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
  // draft.txt is the program's own name: never a link, a special file or
  // another user's file; as the fallback, always a new file.
  const bool named_draft = r->out_name == fallback_output_name;
  os_file out;
  bool fallback = false;
  if (!open_for_writing(r->out_name,
                        named_draft ? open_mode::working_file : open_mode::named_output, &out)) {
    fallback =
        !named_draft && open_for_writing(fallback_output_name, open_mode::new_working_file, &out);
    if (!fallback) {
      fail("fopen()", fallback_output_name);
      return result_is_in(staging_name);
    }
  }
  const std::string& out_name = fallback ? fallback_output_name : r->out_name;
  file_facts facts;
  kept_result kept;
  int status;
  if (!describe(out, &facts) || (named_draft && !own_plain_file(facts))) {
    status = fail("fopen()", out_name);
    result_is_in(staging_name);
  } else if (facts.id == staging.id) {
    status = refuse_staging_name(out_name);
    result_is_in(staging_name);
  } else {
    status = fill_output(r, staging, out, facts, out_name, &kept);
  }
  if (!close_file(&out) && status == 0) {
    fail("fwrite()", out_name);
    status = result_is_in(kept.name.empty() ? std::string(staging_name) : kept.name);
  }
  if (fallback && status != 0) {
    // It was new, and holds no whole result.
    remove_name(fallback_output_name, facts.id);
  }
  if (status != 0) return status;
  // The output holds the whole result (and, in place, is on disk).
  if (!kept.name.empty()) remove_name(kept.name, kept.id);
  if (r->keep_tmp == 0) remove_name(staging_name, staging.id);
  if (fallback) {
    // The output named was not written: a script must not go on as if it was.
    std::fprintf(stderr, "fopen() error: %s; the result is in %s\n", r->out_name.c_str(),
                 fallback_output_name);
    return 1;
  }
  return 0;
}

void job_teardown(trim_job* r) {
  std::free(r->in_buf);
  std::free(r->combo);
  r->in_buf = nullptr;
  r->combo = nullptr;
  close_file(&r->in);
}
