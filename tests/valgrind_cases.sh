#!/usr/bin/env bash
# The end-to-end cases of the build that made PROGRAM (build/tavlen if not
# given), with the program under valgrind: a memory error or a leak changes its
# exit status and standard error, and so fails the case.
TAVLEN_LAUNCHER="valgrind -q --error-exitcode=99 --leak-check=full" \
  exec ctest --test-dir "$(dirname "${1:-build/tavlen}")" -R '^e2e_' -j2 --output-on-failure
