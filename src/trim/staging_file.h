// The staging file, binary.tmp in the current directory, which every run in
// that directory uses in turn. Its life in one run:
//   take_staging     open it (new and its owner's only, or the one there),
//                    never through a link, and wait for the turn
//   (the pass)       empty it, write the result, sync it
//   remove_staging   once the output holds the result, unless -y keeps it
//   release_staging  close it; the turn ends (also when the run ends, however)
// A file with a second name is never written: a run killed while it kept its
// result there left that name, and it holds the only whole result.
#pragma once

#include "trim/platform.h"

inline constexpr const char* staging_name = "binary.tmp";

struct staging_file {
  owned_file file;
  file_id id;
  bool created = false;  // by this run: an early failure removes it
  bool locked = false;   // false where the file system has no locks
};

// False when binary.tmp cannot be used: a link, not a regular file, another
// user's, or no way to open it.
bool take_staging(staging_file* s);
// Removes the name binary.tmp, if it still names the file held.
void remove_staging(const staging_file& s);
// False when closing reports that writes to a kept result were lost.
bool release_staging(staging_file* s);
