// The command line: arguments to trim settings, then one trimming job.
#pragma once

#include "trim/trim_settings.h"

// Records every argument after argv[0], left to right; opens nothing.
trim_settings scan_arguments(int argc, const char* const* argv);

// The whole run; returns the exit status.
int run_tavlen(int argc, const char* const* argv);
