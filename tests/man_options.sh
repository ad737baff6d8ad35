#!/usr/bin/env bash
# The manual page's OPTIONS name the options that the sample lines of the
# usage screen (tavlen -V) use, and no others; a numeric option such as -u3
# stands there as -uN. Two known differences: -CRLF, the long spelling of -r,
# is not on the screen; --help is on it, but it is a file name (the page says
# so). Usage: man_options.sh PROGRAM PAGE
set -euo pipefail
screen=$("$1" -V 2>&1 >/dev/null) && { echo "tavlen -V exited 0" >&2; exit 1; }
on_screen=$(awk '$1 == "tavlen" { for (i = 2; i <= NF; ++i) if ($i ~ /^-/) print $i }' \
  <<<"$screen" |
  sed 's/[0-9]*$//' | grep -vx -- --help | sort -u)
# The tags of OPTIONS: the line after each .TP, with \- for -.
on_page=$(awk '/^\.SH/ { options = ($2 == "OPTIONS") } options && tag { print } { tag = /^\.TP/ }' \
  "$2" |
  grep -o -- '\\-[A-Za-z]*' | sed 's/^\\//' | grep -vx -- -CRLF | sort -u)
[[ -n $on_screen ]] || { echo "no sample lines in tavlen -V" >&2; exit 1; }
diff <(echo "$on_screen") <(echo "$on_page") || { echo "< usage screen, > $2" >&2; exit 1; }
echo "man_options: $(echo $on_page)"
