#pragma once

#include "cli/version.h"  // tavlen_version, from CMakeLists.txt

// Writes the version banner and the sample command lines to standard error,
// then ends the process with status 1.
[[noreturn]] void show_usage(double version, int with_comments);
