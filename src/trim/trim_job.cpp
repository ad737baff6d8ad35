#include "trim/trim_job.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "trim/block_writer.h"

namespace {

bool failed(run_failure* why, const char* call, const std::string& name,
            const std::string& result_in = "") {
  why->message = std::string(call) + " error: " + name + "\n";
  why->result_in = result_in;
  return false;
}

bool refused_as_staging(run_failure* why, const std::string& name,
                        const std::string& result_in = "") {
  return failed(why, staging_name, name + " is the staging file", result_in);
}

// Best effort, and never through a link or into another user's file: the
// message on standard error is what the user reads.
void log_error(const char* message, const std::string& name) {
  owned_file log;
  os_file f;
  if (!open_for_writing(error_log_name, open_mode::working_file, &f)) return;
  log.reset(f);
  file_facts facts;
  if (describe(f, &facts) && own_plain_file(facts) && truncate_to_empty(f)) {
    const std::string entry = std::string(message) + " " + name;
    write_all(f, entry.data(), entry.size());
  }
}

// Copies the whole staging file to `to` through the first slot of combo.
bool copy_staged(const staging_file& staging, os_file to, const std::string& to_name,
                 job_buffers* b, run_failure* why) {
  const os_file from = staging.file.get();
  if (!rewind_file(from)) return failed(why, "fread()", staging_name);
  if (copy_in_kernel(from, to)) return true;
  for (;;) {
    const int64_t got = read_some(from, b->combo.get(), b->slot_size);
    if (got < 0) return failed(why, "fread()", staging_name);
    if (got == 0) return true;
    if (!write_all(to, b->combo.get(), static_cast<size_t>(got))) {
      return failed(why, "fwrite()", to_name);
    }
  }
}

// True when both names reach one existing file, by any spelling or link.
bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  return std::filesystem::equivalent(file_path(a), file_path(b), ec);
}

// Both names lead to one place, whatever is there now.
bool same_place(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  // One place is one file, which two calls can rule out; resolving each name
  // takes a call per folder on its way.
  std::error_code ec_a;
  if (!fs::equivalent(file_path(a), file_path(b), ec_a) && !ec_a) return false;
  std::error_code ec_b;
  const fs::path pa = fs::weakly_canonical(fs::absolute(file_path(a), ec_a), ec_a);
  const fs::path pb = fs::weakly_canonical(fs::absolute(file_path(b), ec_b), ec_b);
  return !ec_a && !ec_b && same_path(pa, pb);
}

std::string folder_of(const std::string& name) {
  return name.substr(0, name_start(name));
}

// A second name for the result, made and on disk before an in-place run
// truncates the only other copy: binary.tmp is reused by every run. In the
// current directory it is a link; where that directory lives in RAM (or
// takes no link), a private copy beside the output.
bool link_result(const staging_file& staging, const std::string& out_name, written_output* out) {
  if (!survives_power_cut("") || !sync_file(staging.file.get())) return false;
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::string name = kept_result_name("", out_name, staging.id, attempt);
    if (!add_name(staging_name, name)) continue;
    if (!sync_directory("")) {
      remove_name(name, staging.id);
      return false;
    }
    out->kept = name;
    out->kept_id = staging.id;
    return true;
  }
  return false;
}

bool copy_result(const staging_file& staging, const std::string& out_name, job_buffers* b,
                 written_output* out) {
  const std::string dir = folder_of(out_name);
  owned_file copy;
  std::string name;
  for (int attempt = 0; attempt < 10 && !copy.is_open(); ++attempt) {
    os_file f;
    name = kept_result_name(dir, out_name, staging.id, attempt);
    if (open_for_writing(name, open_mode::new_private_file, &f)) copy.reset(f);
  }
  file_facts facts;
  if (!copy.is_open() || !describe(copy.get(), &facts)) return false;
  run_failure ignored;
  const bool made = copy_staged(staging, copy.get(), name, b, &ignored) && sync_file(copy.get()) &&
                    copy.close() && sync_directory(dir);
  if (!made) {
    copy.close();
    remove_name(name, facts.id);
    return false;
  }
  out->kept = name;
  out->kept_id = facts.id;
  return true;
}

// Another program wrote the file, or put a new one in its place, while this
// run read it or waited for it: that version is not this run's to replace.
bool changed_since_read(const trim_input& in, const std::string& out_name, const file_facts& facts,
                        bool in_place) {
  if (in_place) return !same_version(facts, in.read);
  // The name the input was read from now leads to another file.
  return in.read.regular && same_place(in.name, out_name);
}

// The output is open and is not the staging file. Writing it waits for any
// other run that writes it. When it is the input, the input's only copy is
// about to be replaced: the result is on disk under a name of its own first,
// and the new output before that name goes.
bool fill_output(const trim_input& in, job_buffers* b, const staging_file& staging, os_file to,
                 file_facts facts, const std::string& out_name, written_output* out,
                 run_failure* why) {
  if (facts.id == staging.id) return refused_as_staging(why, out_name, staging_name);
  const bool in_place = facts.regular && facts.id == in.opened.id;
  if (facts.regular) {
    lock_exclusive(to);
    if (!describe(to, &facts)) return failed(why, "fopen()", out_name, staging_name);
    if (changed_since_read(in, out_name, facts, in_place) ||
        !name_leads_to(out_name, facts.id, true)) {
      return failed(why, "fwrite()", out_name + " changed since it was read", staging_name);
    }
  }
  if (in_place && !link_result(staging, out_name, out) && !copy_result(staging, out_name, b, out)) {
    const std::string dir = survives_power_cut("") ? "" : folder_of(out_name);
    return failed(why, "fopen()", kept_result_name(dir, out_name, staging.id, 0), staging_name);
  }
  const std::string whole = out->kept.empty() ? std::string(staging_name) : out->kept;
  if (facts.regular && facts.size > 0 && !truncate_to_empty(to)) {
    return failed(why, "fwrite()", out_name, whole);
  }
  if (!copy_staged(staging, to, out_name, b, why)) {
    why->result_in = whole;
    return false;
  }
  if (in_place && !sync_file(to)) return failed(why, "fwrite()", out_name, whole);
  return true;
}

}  // namespace

bool names_staging_file(const std::string& name) {
  namespace fs = std::filesystem;
  std::error_code ec;
  // A name that exists and is no link leads nowhere else: only its identity
  // can make it the staging file.
  const fs::file_status status = fs::symlink_status(file_path(name), ec);
  if (!ec && fs::exists(status) && !fs::is_symlink(status)) return same_file(name, staging_name);
  const fs::path staging = fs::weakly_canonical(fs::absolute(staging_name, ec), ec);
  if (ec) return false;
  if (same_file(name, staging_name)) return true;
  // Neither may exist yet: compare where the name leads once its links are
  // followed. A link whose target is missing still leads to that target.
  fs::path target = fs::absolute(file_path(name), ec);
  for (int hops = 0; hops < 40 && !ec; ++hops) {
    std::error_code link_ec;
    if (!fs::is_symlink(fs::symlink_status(target, link_ec))) break;
    const fs::path link = fs::read_symlink(target, ec);
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  if (ec) return false;
  const fs::path leads_to = fs::weakly_canonical(target, ec);
  return !ec && same_path(leads_to, staging);
}

bool check_names(const trim_settings& s, run_failure* why) {
  if (s.in_name.empty()) {
    why->message = "strlen() error: zero size of file name\n";
    return false;
  }
  // A glob that matched three files would have the last one overwritten.
  if (s.names > 2) return failed(why, "argv", s.third_name + " is a third file name");
  for (const std::string* name : {&s.in_name, &s.out_name}) {
    // Spellings found here are refused before any file is opened; the job
    // refuses every other way to the file by what it opens.
    if (names_staging_file(*name)) return refused_as_staging(why, *name);
  }
  return true;
}

bool open_input(const trim_settings& s, trim_input* in, run_failure* why) {
  in->name = s.in_name;
  os_file f;
  if (!open_for_reading(in->name, &f)) {
    log_error("fopen() error-3:", in->name);
    why->message = (s.crlf_mode ? "fopen() error-1: " : "fopen() error-2: ") + in->name + "\n";
    return false;
  }
  in->file.reset(f);
  // A pipe or a device has no size; the run reads it all the same.
  if (!describe(f, &in->opened) || !in->opened.regular) {
    in->opened.regular = false;
    log_error("ftell() error:", in->name);
  }
  return true;
}

bool allocate_buffers(const trim_input& in, job_buffers* b, run_failure* why) {
  const int64_t size = in.opened.regular ? in.opened.size : -1;
  b->buf_size = size >= 0 && size < size_cap ? static_cast<int32_t>(size) : size_cap;
  // Whole blocks whatever the size at open: a file may grow, and memory that
  // is never touched costs nothing.
  b->read_size = default_read_size;
  b->slot_size = round_to_pages(trim_out_bound(b->read_size));
  b->in_buf = allocate_pages(b->read_size);
  if (!b->in_buf) {
    why->message = "malloc() error: " + std::to_string(b->buf_size) + " bytes";
    return false;
  }
  b->combo = allocate_pages(output_slots * b->slot_size);
  if (!b->combo) {
    why->message = "r->combo == NULL error: " + std::to_string(b->buf_size) + " bytes";
    return false;
  }
  return true;
}

bool hold_staging(const trim_input& in, staging_file* staging, run_failure* why) {
  if (!take_staging(staging)) return failed(why, "fopen()", staging_name);
  if (staging->id == in.opened.id) return refused_as_staging(why, in.name);
  return true;
}

bool trim_pass(const trim_settings& s, trim_input* in, job_buffers* b, staging_file* staging,
               run_failure* why) {
  // The turn is held: every byte read is of a version no other run in the
  // folder changes meanwhile.
  file_facts before;
  const bool sized = describe(in->file.get(), &before) && before.regular;
  const os_file from = in->file.get();
  const os_file to = staging->file.get();
  int64_t got = read_some(from, b->in_buf.get(), b->read_size);
  if (got <= 0) {
    // Nothing was written: a staging file kept from before stays as it was.
    if (staging->created) remove_staging(*staging);
    if (got < 0) return failed(why, "fread()", in->name);
    why->message = "malloc() error: 0 bytes";
    return false;
  }
  // Emptied once held, as a run we waited for may have grown it; an empty
  // one is left alone, as truncating makes some file systems write the file
  // out when it is closed.
  file_facts staged;
  bool written = describe(to, &staged) && (staged.size == 0 || truncate_to_empty(to));
  trim_carry carry;
  trim_start(&carry, s.group_lines, s.cut_len, s.crlf_mode ? line_end::crlf : line_end::lf);
  unsigned char* out = b->combo.get();
  size_t made = trim_chunk(&carry, b->in_buf.get(), static_cast<size_t>(got), out);
  got = written ? read_some(from, b->in_buf.get(), b->read_size) : 0;
  if (got <= 0) {
    // One block: a thread would cost more than it saves.
    written = written && write_all(to, out, made);
  } else {
    // Each trimmed block is written while the next ones are read and trimmed
    // into the other slots of combo.
    block_writer writer(to, output_slots);
    size_t slot = 0;
    for (written = writer.put(out, made); written && got > 0;
         got = read_some(from, b->in_buf.get(), b->read_size)) {
      slot = (slot + 1) % output_slots;
      out = b->combo.get() + slot * b->slot_size;
      made = trim_chunk(&carry, b->in_buf.get(), static_cast<size_t>(got), out);
      written = writer.put(out, made);
    }
    written = writer.finish() && written;
  }
  if (!written) {
    failed(why, "fwrite()", staging_name);
  } else if (got < 0) {
    failed(why, "fread()", in->name);
  } else if (sized && (!describe(from, &in->read) || !same_version(before, in->read))) {
    failed(why, "fread()", in->name + " changed while it was read");
  } else {
    in->file.close();
    return true;
  }
  // A partial result must not pass for a whole one.
  remove_staging(*staging);
  return false;
}

bool stage_output(const trim_settings& s, const trim_input& in, job_buffers* b,
                  const staging_file& staging, written_output* out, run_failure* why) {
  // draft.txt is the program's own name: never a link, a special file or
  // another user's file; as the fallback, always a new file.
  const bool named_draft = s.out_name == fallback_output_name;
  owned_file to;
  os_file f;
  if (open_for_writing(s.out_name, named_draft ? open_mode::working_file : open_mode::named_output,
                       &f)) {
    to.reset(f);
  } else if (!named_draft &&
             open_for_writing(fallback_output_name, open_mode::new_working_file, &f)) {
    to.reset(f);
    out->fallback = true;
  } else {
    return failed(why, "fopen()", fallback_output_name, staging_name);
  }
  const std::string& out_name = out->fallback ? fallback_output_name : s.out_name;
  file_facts facts;
  const bool known = describe(f, &facts);
  bool done = known && (!named_draft || own_plain_file(facts))
                  ? fill_output(in, b, staging, f, facts, out_name, out, why)
                  : failed(why, "fopen()", out_name, staging_name);
  if (!to.close() && done) {
    done = failed(why, "fwrite()", out_name, out->kept.empty() ? staging_name : out->kept);
  }
  // A fallback that failed was new, and holds no whole result.
  if (!done && out->fallback && known) remove_name(fallback_output_name, facts.id);
  return done;
}

bool finish_staging(const trim_settings& s, staging_file* staging, const written_output& out,
                    run_failure* why) {
  // The output holds the whole result (and, in place, is on disk).
  if (!out.kept.empty()) remove_name(out.kept, out.kept_id);
  if (!s.keep_tmp) remove_staging(*staging);
  // A kept result must be whole; one that was removed no longer matters.
  if (!release_staging(staging) && s.keep_tmp) return failed(why, "fwrite()", staging_name);
  if (out.fallback) {
    // The output named was not written: a script must not go on as if it was.
    why->message =
        "fopen() error: " + s.out_name + "; the result is in " + fallback_output_name + "\n";
    return false;
  }
  return true;
}

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
