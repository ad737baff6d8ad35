#!/usr/bin/env bash
# Runs the built program under valgrind on a few end-to-end cases: any
# memory error or leak fails, and so does a wrong exit status.
set -euo pipefail
program=$(realpath "${1:-build/tavlen}")
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
runs=0 failed=0

# check STATUS ARGS...: runs in a fresh directory holding in.csv, text, empty and big.
check() {
  local want=$1 status=0 dir="$scratch/run$((++runs))"
  shift
  mkdir "$dir"
  printf 'a,b,\r\nc,d,\r\n' >"$dir/in.csv"
  printf 'line1\r\n\r\nline2\r\n\r\n' >"$dir/text"
  : >"$dir/empty"
  head -c 3000000 /dev/zero | tr '\0' 'x' | fold -w 70 >"$dir/big"
  (cd "$dir" && valgrind -q --error-exitcode=1 --leak-check=full --log-file="$dir/vg.log" \
    "$program" "$@" 2>"$dir/stderr") || status=$?
  # valgrind -q writes its log only when something is wrong
  if [[ $status != "$want" || -s $dir/vg.log ]]; then
    echo "FAILED: tavlen $* (status $status, wanted $want)"
    cat "$dir/vg.log"
    failed=$((failed + 1))
  else
    echo "ok: tavlen $*"
  fi
}
check 0 -m in.csv out.csv
check 0 -x2 text
check 0 -u3 -w2 -y text out
check 0 big big
check 1 -m in.csv /dev/full
check 1 missing
check 1 empty
check 1 binary.tmp
check 1 -VC
check 1
echo "valgrind: $((runs - failed)) passed, $failed failed"
((failed == 0))
