#pragma once

inline constexpr double tavlen_version = 1.03;

// Writes the version banner and the sample command lines to standard error,
// then ends the process with status 1.
[[noreturn]] void show_usage(double version, int with_comments);
