#!/usr/bin/env bash
# The end-to-end cases with the program under valgrind: a memory error or a
# leak changes its exit status and standard error, and so fails the case.
TAVLEN_LAUNCHER="valgrind -q --error-exitcode=99 --leak-check=full" \
  exec "$(dirname "$0")/run_cases.sh" "${1:-build/tavlen}" "${2:-0/1}"
