#!/usr/bin/env bash
# An in-place run killed at each of its system calls, one at a time, then
# another run in the folder: the folder still holds the whole input or the
# whole result, byte for byte. The points are every call the run makes, as strace
# sees them (the Nth call of each name, in any thread).
#   kill_points.sh PROGRAM [ram]
# With "ram" the run starts in a folder in RAM (/dev/shm), and the input is
# on disk: its result is then kept beside it. Exit 77 where no such folder is.
set -uo pipefail
program=$(realpath "$1") dir=$(mktemp -d) here=run x=x
trap 'rm -rf "$dir"' EXIT
if [[ ${2:-} == ram ]]; then
  [[ $(stat -f -c %T /dev/shm 2>/dev/null) == tmpfs ]] || exit 77
  here=$(mktemp -d /dev/shm/kill_points.XXXXXX) x=$dir/run/x
  trap 'rm -rf "$dir" "$here"' EXIT
fi
cd "$dir" || exit 1
# Past one read block, so that the writer thread and the copy loop are used.
printf 'a,b,\r\n%.0s' {1..250000} >input
printf 'a,b\r\n%.0s' {1..250000} >result
fresh() {
  rm -rf run "${here:?}"/* && mkdir -p run "$here" && cp input run/x && printf 'c,\n' >"$here/other"
}
fresh
(cd "$here" && strace -f -qq -o "$dir/trace" "$program" -m "$x" "$x") || exit 1
# "name:N" for each call of the trace, N counted per thread.
mapfile -t points < <(sed -nE 's/^([0-9]+) +([a-z0-9_]+)\(.*/\1 \2/p' trace |
  awk '{ n = ++seen[$1 " " $2]; if (n > most[$2]) most[$2] = n }
       END { for (c in most) for (i = 1; i <= most[c]; i++) print c ":" i }')
((${#points[@]} > 50)) || { echo "only ${#points[@]} calls traced" >&2; exit 1; }
lost=0
for point in "${points[@]}"; do
  fresh
  { (cd "$here" && exec strace -f -qq -o /dev/null \
    -e inject="${point%:*}:signal=KILL:when=${point#*:}" "$program" -m "$x" "$x"); } 2>/dev/null
  if ! (cd "$here" && "$program" other other.out); then
    echo "killed at ${point}: the next run failed" >&2
    lost=1
  fi
  whole=0
  for f in run/* run/.[!.]* "$here"/*; do
    [[ -f $f ]] && { cmp -s "$f" input || cmp -s "$f" result; } && whole=1
  done
  ((whole)) || { echo "killed at ${point}: neither the input nor the result is whole" >&2; lost=1; }
  # A name that says it holds the result does.
  for f in run/x.trimmed-*[0-9]; do
    [[ ! -e $f ]] || cmp -s "$f" result || { echo "killed at ${point}: $f is partial" >&2; lost=1; }
  done
done
echo "killed at ${#points[@]} calls"
exit $lost
