#include "trim/trim_job.h"

#include "trim/names.h"

namespace {

// Never through a link or into another user's file, which is passed over: the
// message on standard error is what the user reads. False when the entry was
// begun and not finished.
bool log_error(const char* message, const std::string& name) {
  os_file f;
  if (!open_for_writing(error_log_name, open_mode::working_file, &f)) return true;
  owned_file log(f);
  file_facts facts;
  if (!describe(f, &facts) || !own_plain_file(facts)) return true;
  const std::string entry = std::string(message) + " " + name;
  return truncate_to_empty(f) && write_all(f, entry.data(), entry.size()) && log.close();
}

}  // namespace

bool refused_as_staging(run_failure* why, const std::string& name) {
  return failed(why, staging_name, name + " is the staging file");
}

bool check_names(const trim_settings& s, run_failure* why) {
  for (const std::string* name : {&s.in_name, &s.out_name}) {
    // Spellings found here are refused before any file is opened; the job
    // refuses every other way to the file by what it opens.
    if (names_staging_file(*name)) return refused_as_staging(why, *name);
  }
  return true;
}

bool open_input(const trim_settings& s, const staging_file& staging, trim_input* in,
                run_failure* why) {
  in->name = s.in_name;
  os_file f;
  if (!open_for_reading(in->name, &f)) {
    in->logged = log_error("fopen() error-3:", in->name);
    why->message = (s.crlf_mode ? "fopen() error-1: " : "fopen() error-2: ") + in->name + "\n";
    return false;
  }
  in->file.reset(f);
  // A pipe or a device has no size; the run reads it all the same.
  if (!describe(f, &in->opened) || !in->opened.regular) {
    in->logged = log_error("ftell() error:", in->name);
  }
  if (in->opened.id == staging.id()) return refused_as_staging(why, in->name);
  return true;
}

bool allocate_buffers(const trim_input& in, job_buffers* b, run_failure* why) {
  const int64_t size = in.opened.regular ? in.opened.size : -1;
  b->reported_size =
      size >= 0 && size < reported_size_cap ? static_cast<int32_t>(size) : reported_size_cap;
  // Whole blocks whatever the size at open: a file may grow, and memory that
  // is never touched costs nothing.
  b->read_size = default_read_size;
  b->slot_size = round_to_pages(trim_out_bound(b->read_size));
  b->in_buf = allocate_pages(b->read_size);
  if (!b->in_buf) {
    why->message = "malloc() error: " + std::to_string(b->reported_size) + " bytes";
    return false;
  }
  b->out_slots = allocate_pages(output_slots * b->slot_size);
  if (!b->out_slots) {
    why->message = "r->combo == NULL error: " + std::to_string(b->reported_size) + " bytes";
    return false;
  }
  return true;
}

bool finish_staging(const trim_settings& s, staging_file* staging, written_output* out,
                    run_failure* why) {
  // The output holds the whole result (and, in place, is on disk).
  out->replacement.finish();
  if (!s.keep_tmp) staging->remove();
  // A kept result must be whole; one that was removed no longer matters.
  if (!staging->release() && s.keep_tmp) return failed(why, "fwrite()", staging_name);
  if (out->fallback) {
    // The output named was not written: a script must not go on as if it was.
    why->message =
        "fopen() error: " + s.out_name + "; the result is in " + fallback_output_name + "\n";
    return false;
  }
  return true;
}

std::string whole_result(const staging_file& staging, const written_output& out) {
  if (!out.replacement.kept_name().empty()) return out.replacement.kept_name();
  return staging.holds_result() ? staging_name : "";
}
