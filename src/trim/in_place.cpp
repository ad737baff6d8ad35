#include "trim/in_place.h"

#include "trim/names.h"

namespace {

// Names taken by earlier runs killed half-way are skipped, up to a bound.
constexpr int max_attempts = 10;

}  // namespace

bool in_place_replacement::keep(const staging_file& staging, const std::string& out_name,
                                os_file output, unsigned char* scratch, size_t scratch_size,
                                run_failure* why) {
  // binary.tmp is reused by every run: no place for the only copy, but a
  // second name for it costs no copy. Where the current folder lives in RAM
  // (and the output does not), that name would not outlast a power cut.
  const bool output_on_disk = file_survives_power_cut(output);
  if ((survives_power_cut("") || !output_on_disk) && link_staging(staging, out_name)) return true;
  // Beside the file, not beside its name: a link to it may start in RAM.
  std::string folder;
  std::string base;
  if (!file_behind(out_name, &folder, &base)) return failed(why, "fopen()", out_name);
  if (output_on_disk && !survives_power_cut(folder)) {
    return failed(why, "fopen()", kept_result_name(folder, base, staging.id(), 0));
  }
  if (copy_staging(staging, folder, base, scratch, scratch_size)) return true;
  return failed(why, "fopen()", last_tried_);
}

bool in_place_replacement::link_staging(const staging_file& staging, const std::string& out_name) {
  if (!staging.sync()) return false;
  for (int attempt = 0; attempt < max_attempts; ++attempt) {
    last_tried_ = kept_result_name("", out_name, staging.id(), attempt);
    // Made by the name binary.tmp, which another program may have swapped.
    if (add_name(staging_name, last_tried_)) return settle("", staging.id());
  }
  return false;
}

bool in_place_replacement::copy_staging(const staging_file& staging, const std::string& folder,
                                        const std::string& base, unsigned char* scratch,
                                        size_t scratch_size) {
  for (int attempt = 0; attempt < max_attempts; ++attempt) {
    last_tried_ = kept_result_name(folder, base, staging.id(), attempt);
    // Whole before it has its name: a run killed while it copies leaves a
    // name that says the file is partial.
    const std::string partial = last_tried_ + ".partial";
    file_id copy;
    const copy_made made = copy_to_new(staging, partial, scratch, scratch_size, &copy);
    if (made == copy_made::name_taken) continue;
    if (made == copy_made::failed) return false;
    if (!rename_new(partial, last_tried_)) {
      remove_name(partial, copy);
      continue;
    }
    // Renamed by name, which another program may have swapped meanwhile.
    return settle(folder, copy);
  }
  return false;
}

bool in_place_replacement::settle(const std::string& folder, const file_id& made) {
  file_id named;
  if (!identify(last_tried_, &named) || named != made || !sync_directory(folder)) {
    remove_name(last_tried_, named);
    return false;
  }
  kept_name_ = last_tried_;
  kept_id_ = made;
  return true;
}

in_place_replacement::copy_made in_place_replacement::copy_to_new(const staging_file& staging,
                                                                  const std::string& partial,
                                                                  unsigned char* scratch,
                                                                  size_t scratch_size,
                                                                  file_id* id) {
  os_file f;
  // Taken, most likely, by a run killed half-way: the next name is tried.
  if (!open_for_writing(partial, open_mode::new_private_file, &f)) return copy_made::name_taken;
  owned_file copy(f);
  file_facts facts;
  if (!describe(f, &facts)) return copy_made::failed;
  *id = facts.id;
  if (staging.copy_to(f, scratch, scratch_size) == copy_result::done && sync_file(f) &&
      copy.close()) {
    return copy_made::copy;
  }
  copy.close();
  remove_name(partial, facts.id);
  return copy_made::failed;
}

bool in_place_replacement::hold(owned_file* output, const std::string& out_name,
                                const file_facts& read, file_facts* held, bool* unlocked,
                                run_failure* why) {
  // After any other run that writes it: it has the file open until done.
  *unlocked = !lock_exclusive(output->get());
  const keep_out others = keep_others_out(output, out_name);
  if (others == keep_out::failed) return refuse(why, "fopen()", out_name);
  // Checked now, with nothing slow before the truncation: a change made
  // while the kept name was synced counts too.
  if (!describe(output->get(), held)) return refuse(why, "fopen()", out_name);
  if (!same_version(*held, read) || !name_leads_to(out_name, held->id, true)) {
    return refuse(why, "fwrite()", out_name + " changed since it was read");
  }
  if (others == keep_out::in_use) {
    return refuse(why, "fwrite()", out_name + " is open in another program");
  }
  return true;
}

bool in_place_replacement::refuse(run_failure* why, const char* call, const std::string& what) {
  // Nothing was touched: binary.tmp holds the result, and is named instead.
  remove_name(kept_name_, kept_id_);
  kept_name_.clear();
  return failed(why, call, what);
}

bool in_place_replacement::confirm(os_file output, const std::string& out_name,
                                   const staging_file& staging, run_failure* why) {
  // An editor may have saved a new file over the name, or a program that
  // waited past the lease's end written to it: the kept name stays.
  file_facts written;
  file_facts staged;
  if (!describe(output, &written) || !describe(staging.file(), &staged) ||
      written.size != staged.size || !name_leads_to(out_name, written.id, true)) {
    return failed(why, "fwrite()", out_name + " changed since it was read");
  }
  if (others_came()) {
    return failed(why, "fwrite()",
                  out_name + " was opened by another program while it was replaced");
  }
  return true;
}

void in_place_replacement::finish() {
  if (kept_name_.empty()) return;
  remove_name(kept_name_, kept_id_);
  kept_name_.clear();
}
