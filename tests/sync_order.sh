#!/usr/bin/env bash
# The order of system calls that lets an in-place run survive a power cut at
# any moment: binary.tmp and its folder entry reach the disk before the input
# is truncated, the new output before binary.tmp is removed. A run into
# another file syncs nothing.
set -euo pipefail
program=$(realpath "$1") dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" && dir=$(pwd -P)
printf 'a,b,\r\n%.0s' {1..1000} >in.csv
trace() {
  strace -f -y -qq -o trace -e trace=fsync,fdatasync,ftruncate,unlink,unlinkat "$program" "$@"
}
# The line of the first call that matches, else "none".
at() { grep -n -m1 -E "$1" trace | cut -d: -f1 | grep . || echo none; }
trace -m in.csv in.csv
order="$(at "sync\([0-9]+<$dir/binary.tmp>") $(at " fsync\([0-9]+<$dir>") \
$(at " ftruncate\([0-9]+<$dir/in.csv>") $(at "sync\([0-9]+<$dir/in.csv>") $(at unlink.*binary.tmp)"
read -r staged listed truncated synced removed <<<"$order"
if [[ $order == *none* ]] || ((staged > truncated || listed > truncated || truncated > synced ||
  synced > removed)); then
  echo "in place: wrong order (binary.tmp, folder, truncation, output, removal): $order" >&2
  cat trace >&2
  exit 1
fi
cmp in.csv <(printf 'a,b\r\n%.0s' {1..1000})
trace -m in.csv out.csv
if grep -E 'sync\(' trace >&2; then
  echo "into another file: a sync" >&2
  exit 1
fi
