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
// The folder that holds the file a name leads to, once every link on the
// way is followed, with a separator at its end; false when it cannot be told.
bool folder_holding(const std::string& name, std::string* folder);
// The name an in-place run gives its result while it overwrites the input:
// no later run reuses it.
std::string kept_result_name(const std::string& folder, const std::string& out_name,
                             const file_id& id, int attempt);
