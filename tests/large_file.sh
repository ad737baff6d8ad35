#!/usr/bin/env bash
# An input past 2 GiB, as a sparse file, trimmed whole: sizes and offsets must
# hold 64 bits all the way through. Exits 77 (skipped) without 5 GiB of room.
set -euo pipefail
program=$(realpath "$1") dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
(($(df -k --output=avail . | tail -n 1) >= 5 << 20)) || { echo "needs 5 GiB free" && exit 77; }
printf 'first,line,\r\n' >big.csv
truncate -s $((2211908157 - 12)) big.csv  # 2.06 GiB in all
printf 'last,line,\r\n' >>big.csv
"$program" -m big.csv out.csv
# Both lines lose their separator; the zeros between them are one long line.
[[ $(stat -c %s out.csv) == $((2211908157 - 2)) && ! -e binary.tmp ]]
cmp <(head -c 16 out.csv) <(printf 'first,line\r\n\0\0\0\0')
cmp <(tail -c 15 out.csv) <(printf '\0\0\0\0last,line\r\n')
