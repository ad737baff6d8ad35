#include "trim/staging_file.h"

namespace {

// Far more than runs that can meet on one name; a bound all the same.
constexpr int max_tries = 2000;

}  // namespace

bool staging_file::take() {
  for (int tries = 0; tries < max_tries; ++tries) {
    os_file f;
    bool created = true;
    own_open opened = open_staging_file(staging_name, true, &f);
    if (opened == own_open::exists) {
      created = false;
      opened = open_staging_file(staging_name, false, &f);
    }
    if (opened == own_open::busy) wait_for_name();
    if (opened == own_open::missing || opened == own_open::busy) continue;
    if (opened != own_open::opened) return false;
    file_.reset(f);
    const taken got = hold(created);
    if (got != taken::again) return got == taken::held;
    // Let go before trying again: Windows keeps a removed file's name taken
    // while any handle of it is open, this run's own too.
    file_.reset(os_file{});
  }
  return false;
}

staging_file::taken staging_file::hold(bool created) {
  const os_file f = file_.get();
  file_facts facts;
  if (!describe(f, &facts) || !facts.regular || !facts.owned) return taken::refused;
  const file_id first = facts.id;
  const auto refuse = [&] {
    if (created) remove_name(staging_name, first);
    return taken::refused;
  };
  locked_ = lock_exclusive(f);
  // The run we waited for may have removed it, or just had when it was
  // opened: a hold on a file that no longer has the name holds nothing.
  if (!name_leads_to(staging_name, first, false)) return taken::again;
  if (!describe(f, &facts)) return refuse();
  if (facts.links != 1) {
    // Writing it would change what the other name holds: the name goes.
    file_.reset(os_file{});
    return remove_name(staging_name, facts.id) ? taken::again : taken::refused;
  }
  // A result kept by an older version may be readable by others.
  if (!make_private(f)) return refuse();
  id_ = facts.id;
  created_ = created;
  return taken::held;
}

bool staging_file::empty() {
  // An empty one is left alone: truncating makes some file systems write the
  // file out when it is closed.
  file_facts facts;
  written_ = true;
  whole_ = false;
  return describe(file_.get(), &facts) && (facts.size == 0 || truncate_to_empty(file_.get()));
}

copy_result staging_file::copy_to(os_file to, unsigned char* scratch, size_t scratch_size) const {
  const os_file from = file_.get();
  if (!rewind_file(from)) return copy_result::read_failed;
  if (copy_in_kernel(from, to)) return copy_result::done;
  for (;;) {
    const int64_t got = read_some(from, scratch, scratch_size);
    if (got < 0) return copy_result::read_failed;
    if (got == 0) return copy_result::done;
    if (!write_all(to, scratch, static_cast<size_t>(got))) return copy_result::write_failed;
  }
}

void staging_file::remove() {
  whole_ = false;
  remove_name(staging_name, id_);
}

staging_file::~staging_file() {
  // A run that ended before its pass wrote anything leaves no file behind,
  // and one kept from before as it was.
  if (created_ && !written_) remove();
}

bool staging_file::release() {
  // Whatever it holds now, the run's messages no longer point to it.
  whole_ = false;
  return file_.close();
}
