#!/usr/bin/env bash
# The order of system calls that lets an in-place run survive a power cut at
# any moment: binary.tmp, a second name for it and that name's folder entry
# reach the disk before the input is truncated, the new output before the
# second name and binary.tmp are removed; the lease that keeps other programs
# out is taken after the slow steps, just before the truncation. A run into
# another file syncs nothing.
set -euo pipefail
program=$(realpath "$1") dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir" && dir=$(pwd -P)
printf 'a,b,\r\n%.0s' {1..1000} >in.csv
trace() {
  strace -f -y -qq -o trace -e trace=fsync,fdatasync,ftruncate,link,unlink,unlinkat,fcntl \
    "$program" "$@"
}
# The line of the first call that matches, else "none".
at() { grep -n -m1 -E "$1" trace | cut -d: -f1 | grep . || echo none; }
trace -m in.csv in.csv
kept='"in\.csv\.trimmed-[0-9]+"'
order="$(at "sync\([0-9]+<$dir/binary.tmp>") $(at " link\(\"binary.tmp\", $kept") \
$(at " fsync\([0-9]+<$dir>") $(at "F_SETLEASE, F_WRLCK") $(at " ftruncate\([0-9]+<$dir/in.csv>") \
$(at "sync\([0-9]+<$dir/in.csv>") $(at "unlink\($kept") $(at unlink.*binary.tmp)"
read -r staged linked listed leased truncated synced unkept removed <<<"$order"
if [[ $order == *none* ]] || ((staged > linked || linked > listed || listed > leased ||
  leased > truncated || truncated > synced || synced > unkept || synced > removed)); then
  echo "in place: wrong order (binary.tmp, its second name, folder, lease, truncation, output," \
    "removals): $order" >&2
  cat trace >&2
  exit 1
fi
cmp in.csv <(printf 'a,b\r\n%.0s' {1..1000})
[[ ! -e binary.tmp && -z $(ls ./*trimmed* 2>/dev/null) ]]
trace -m in.csv out.csv
if grep -E 'sync\(' trace >&2; then
  echo "into another file: a sync" >&2
  exit 1
fi
