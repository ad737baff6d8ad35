#include "trim/staging_file.h"

namespace {

// Far more than runs that can meet on one name; a bound all the same.
constexpr int max_tries = 2000;

}  // namespace

bool take_staging(staging_file* s) {
  for (int tries = 0; tries < max_tries; ++tries) {
    os_file f;
    bool created = true;
    own_open opened = open_staging_file(staging_name, true, &f);
    if (opened == own_open::exists) {
      created = false;
      opened = open_staging_file(staging_name, false, &f);
    }
    if (opened == own_open::missing || opened == own_open::busy) {
      if (opened == own_open::busy) wait_for_name();
      continue;
    }
    if (opened != own_open::opened) return false;
    s->file.reset(f);
    file_facts facts;
    if (!describe(f, &facts) || !facts.regular || !facts.owned) return false;
    s->locked = lock_exclusive(f);
    // The run we waited for may have removed it, or just had when it was
    // opened: a hold on a file that no longer has the name holds nothing.
    if (!name_leads_to(staging_name, facts.id, false)) continue;
    if (!describe(f, &facts)) return false;
    if (facts.links != 1) {
      // Writing it would change what the other name holds: the name goes,
      // once closed here, as Windows frees a name only when no run holds it.
      s->file.reset(os_file{});
      if (!remove_name(staging_name, facts.id)) return false;
      continue;
    }
    // A result kept by an older version may be readable by others.
    if (!make_private(f)) return false;
    s->id = facts.id;
    s->created = created;
    return true;
  }
  return false;
}

void remove_staging(const staging_file& s) {
  remove_name(staging_name, s.id);
}

bool release_staging(staging_file* s) {
  return s->file.close();
}
