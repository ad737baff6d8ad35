#!/usr/bin/env bash
# Times tavlen against a plain copy and the usual text tools on the same jobs,
# alternating the tools round by round so that load from elsewhere hits all
# of them alike. Too slow for the test suite; run it by hand:
#
#   bench/compare.sh [-d DIR] [-r ROUNDS] [-t TAVLEN] [-s] [-H]
#
#   -d DIR     scratch directory for inputs and outputs
#              (default $TAVLEN_BENCH_DIR, else /tmp/tavlen-bench)
#   -r ROUNDS  timed rounds per tool (default 7)
#   -t TAVLEN  the program to time (default: built here with the bench preset)
#   -s         skip the 300 MiB peak-memory run
#   -H         also run hyperfine on the CSV job, as a cross-check
set -euo pipefail

src=$(cd "$(dirname "$0")/.." && pwd)
dir=${TAVLEN_BENCH_DIR:-/tmp/tavlen-bench}
rounds=7
tavlen=
big=1
cross_check=0
while getopts "d:r:t:sHh" opt; do
  case $opt in
    d) dir=$OPTARG ;;
    r) rounds=$OPTARG ;;
    t) tavlen=$(realpath "$OPTARG") ;;
    s) big=0 ;;
    H) cross_check=1 ;;
    h) sed -n '6,13s/^# \{0,1\}//p' "$0"; exit 0 ;;
    *) sed -n '6,13s/^# \{0,1\}//p' "$0" >&2; exit 2 ;;
  esac
done

build=$src/build-bench
if [[ -z $tavlen || ! -x $build/bench/tavlen_make_input ]]; then
  echo "building with the bench preset in $build ..." >&2
  (cd "$src" && cmake --preset bench >/dev/null &&
    cmake --build --preset bench -j2 --target tavlen tavlen_make_input >/dev/null)
fi
tavlen=${tavlen:-$build/tavlen}
make_input=$build/bench/tavlen_make_input

mkdir -p "$dir"
cd "$dir"

# Regenerated only when missing or of the wrong size: the bytes never change.
generate() {
  local kind=$1 mib=$2 name=$3
  if [[ ! -f $name || $(stat -c %s "$name") -ne $((mib << 20)) ]]; then
    "$make_input" "$kind" "$mib" >"$name"
  fi
}
generate csv 100 in.csv
generate text 100 in.txt

now_us() {
  if [[ -n ${EPOCHREALTIME:-} ]]; then
    local t=${EPOCHREALTIME/[.,]/}
    echo $((10#$t))
  else
    echo $(($(date +%s%N) / 1000))
  fi
}

gnu_time=
if /usr/bin/time -f %M true >/dev/null 2>&1; then gnu_time=/usr/bin/time; fi

# name|command, run with sh -c in the scratch directory; "out.NAME" is the
# output. A tool that is not installed is skipped with a note.
declare -a csv_jobs=(
  "tavlen|'$tavlen' -m in.csv out.tavlen"
  "dd|dd if=in.csv of=out.dd bs=1M 2>/dev/null"
  "cat|cat in.csv > out.cat"
  "sed|sed 's/,\r\$/\r/' in.csv > out.sed"
  "mawk|mawk '{ sub(/,\r\$/, \"\r\"); print }' in.csv > out.mawk"
  "perl|perl -pe 's/,\r\$/\r/' in.csv > out.perl"
  "dos2unix|dos2unix -q -n in.csv out.dos2unix"
)
declare -a text_jobs=(
  "tavlen|'$tavlen' -x2 in.txt out.tavlen"
  "dd|dd if=in.txt of=out.dd bs=1M 2>/dev/null"
  "cat|cat in.txt > out.cat"
  "sed|sed 'n;d' in.txt > out.sed"
  "mawk|mawk 'NR % 2' in.txt > out.mawk"
  "perl|perl -ne 'print if \$. % 2' in.txt > out.perl"
  "dos2unix|dos2unix -q -n in.txt out.dos2unix"
)

available() {
  local tool=$1
  [[ $tool == tavlen ]] || command -v "$tool" >/dev/null
}

median() {
  sort -n | {
    mapfile -t v
    local n=${#v[@]}
    if ((n % 2)); then echo "${v[n / 2]}"; else echo $(((v[n / 2 - 1] + v[n / 2]) / 2)); fi
  }
}

# a/b with two decimals, from integers.
ratio() {
  local r=$(($1 * 100 / $2))
  printf '%d.%02d' $((r / 100)) $((r % 100))
}

run_jobs() {
  local title=$1 file=$2
  shift 2
  local -a jobs=("$@") names=() cmds=()
  local job
  for job in "${jobs[@]}"; do
    if available "${job%%|*}"; then
      names+=("${job%%|*}")
      cmds+=("${job#*|}")
    else
      echo "note: ${job%%|*} is not installed; skipped" >&2
    fi
  done
  local -A times=() rss=()
  local round i t0 t1
  for ((round = 1; round <= rounds; ++round)); do
    for i in "${!names[@]}"; do
      rm -f "out.${names[i]}" binary.tmp
      sync
      t0=$(now_us)
      sh -c "${cmds[i]}"
      t1=$(now_us)
      times[${names[i]}]+="$((t1 - t0)) "
    done
  done
  # One more run each for peak memory, apart from the timed ones.
  for i in "${!names[@]}"; do
    if [[ -n $gnu_time ]]; then
      rm -f "out.${names[i]}"
      $gnu_time -f %M -o rss.txt sh -c "exec ${cmds[i]}"
      rss[${names[i]}]=$(tail -n 1 rss.txt)
    else
      rss[${names[i]}]="n/a"
    fi
  done

  local -A med=()
  for i in "${!names[@]}"; do
    med[${names[i]}]=$(tr ' ' '\n' <<<"${times[${names[i]}]}" | grep . | median)
  done
  echo
  echo "$title: $file, $(($(stat -c %s "$file") >> 20)) MiB, median of $rounds rounds"
  printf '%-9s %10s %8s %11s %14s\n' tool "median s" "x dd" "x tavlen" "peak RSS KiB"
  for i in "${!names[@]}"; do
    local m=${med[${names[i]}]}
    printf '%-9s %10s %8s %11s %14s\n' "${names[i]}" \
      "$(printf '%d.%03d' $((m / 1000000)) $((m / 1000 % 1000)))" \
      "$([[ -n ${med[dd]:-} ]] && ratio "$m" "${med[dd]}" || echo -)" \
      "$(ratio "$m" "${med[tavlen]}")" "${rss[${names[i]}]}"
  done
}

# Relative to the project, or the name alone: no folder of this machine.
if [[ $tavlen == "$src"/* ]]; then echo "tavlen: ${tavlen#"$src"/}"; else echo "tavlen: ${tavlen##*/}"; fi
echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
  "$(df --output=fstype,source . | tail -n 1)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

run_jobs "-m (cut the separator before CR LF)" in.csv "${csv_jobs[@]}"
if command -v sed >/dev/null; then
  if cmp -s out.tavlen out.sed; then
    echo "check: tavlen -m output equals sed's"
  else
    echo "check FAILED: tavlen -m output differs from sed's" >&2
    exit 1
  fi
fi
if [[ $cross_check -eq 1 ]]; then
  if command -v hyperfine >/dev/null; then
    hyperfine -r "$rounds" -p 'rm -f out.*; sync' \
      "'$tavlen' -m in.csv out.tavlen" "dd if=in.csv of=out.dd bs=1M" "cat in.csv > out.cat"
  else
    echo "note: hyperfine is not installed; no cross-check" >&2
  fi
fi

run_jobs "-x2 (drop every second line of a CR LF text)" in.txt "${text_jobs[@]}"
if cmp -s out.tavlen out.sed; then echo "check: tavlen -x2 output equals sed's"; fi

if [[ $big -eq 1 ]]; then
  generate csv 300 in300.csv
  rm -f out.tavlen
  sync
  if [[ -n $gnu_time ]]; then
    $gnu_time -f '%e %M' -o rss.txt "$tavlen" -m in300.csv out.tavlen
    read -r secs kib < <(tail -n 1 rss.txt)
    verdict="under 16 MiB"
    ((kib < 16384)) || verdict="NOT under 16 MiB"
    echo
    echo "300 MiB: tavlen -m in300.csv took $secs s, peak RSS $kib KiB ($verdict)"
  else
    echo "note: GNU time is not installed; no peak-memory run" >&2
  fi
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f out.* rss.txt
