// What names lead to: the checks that need a name rather than an open file.
#pragma once

#include <string>

#include "trim/platform.h"

// True when `name` is the staging file in the current directory, by any
// spelling or link.
bool names_staging_file(const std::string& name);
// Both names lead to one place, whatever is there now.
bool same_place(const std::string& a, const std::string& b);
// The folder part of a name, with its separator: "" for a bare name.
std::string folder_of(const std::string& name);
// The file a name leads to once every link on the way is followed: its
// folder, with a separator at its end, and its own name. False when that
// cannot be told.
bool file_behind(const std::string& name, std::string* folder, std::string* base);
// The name an in-place run gives its result, in `folder`, while it overwrites
// the file named `file_name`: no later run reuses it.
std::string kept_result_name(const std::string& folder, const std::string& file_name,
                             const file_id& id, int attempt);
