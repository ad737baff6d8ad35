// The command line: arguments to trim settings, then one trimming job.
#pragma once

#include "trim/trim_settings.h"

#include <string>

// The arguments after argv[0], as the scan left them.
struct command_line {
  trim_settings settings;
  int names = 0;           // positional names given
  std::string third_name;  // the first past the output: a run with one is refused
  int wants_usage = 0;     // "-V" asks for 1, "-VC" for 2; the scan stops there
};

// Records every argument after argv[0], left to right; opens nothing.
command_line scan_arguments(int argc, const char* const* argv);

// The whole run; returns the exit status.
int run_tavlen(int argc, const char* const* argv);
