#!/usr/bin/env bash
# Times tavlen against the floor (bench/floor.cpp: the same file work with no
# trimming, which no run of this design can beat), a plain copy (dd bs=1M) and
# the usual text tools on the same jobs, alternating the tools round by round
# so that load from elsewhere hits all of them alike. Too slow for the test
# suite; run it by hand:
#
#   bench/compare.sh [-d DIR] [-r ROUNDS] [-t TAVLEN] [-q] [-s] [-v] [-H]
#
#   -d DIR     scratch directory for inputs and outputs
#              (default $TAVLEN_BENCH_DIR, else /tmp/tavlen-bench)
#   -r ROUNDS  timed rounds per tool (default 9)
#   -t TAVLEN  the program to time (default: built here with the bench preset)
#   -q         quick: tavlen, the floor and dd only
#   -s         skip the 300 MiB peak-memory run
#   -v         also print every run's time, in ms, in the order run
#   -H         also run hyperfine on the CSV job, as a cross-check
set -euo pipefail

usage() { sed -n '8,18s/^# \{0,1\}//p' "$0"; }
src=$(cd "$(dirname "$0")/.." && pwd)
dir=${TAVLEN_BENCH_DIR:-/tmp/tavlen-bench}
rounds=9
tavlen=
quick=0
big=1
cross_check=0
verbose=0
while getopts "d:r:t:qsvHh" opt; do
  case $opt in
    d) dir=$OPTARG ;;
    r) rounds=$OPTARG ;;
    t) tavlen=$(realpath "$OPTARG") ;;
    q) quick=1 ;;
    s) big=0 ;;
    v) verbose=1 ;;
    H) cross_check=1 ;;
    h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
((rounds >= 1)) || { usage >&2; exit 2; }

build=$src/build-bench
targets=(tavlen_make_input tavlen_floor)
[[ -n $tavlen ]] || targets+=(tavlen)
echo "building ${targets[*]} with the bench preset in build-bench ..." >&2
(cd "$src" && cmake --preset bench >/dev/null &&
  cmake --build --preset bench -j2 --target "${targets[@]}" >/dev/null)
tavlen=${tavlen:-$build/tavlen}
floor=$build/bench/tavlen_floor
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
generate line 100 in.line

gnu_time=
if /usr/bin/time -f %M true >/dev/null 2>&1; then gnu_time=/usr/bin/time; fi

# Lines "name|command"; each command is run in the scratch directory and
# writes out.NAME. A tool that is not installed is skipped with a note.
floor_jobs() {
  local opts=$1 in=$2
  echo "tavlen|'$tavlen' $opts $in out.tavlen"
  echo "floor|'$floor' $in out.floor"
  echo "dd|dd if=$in of=out.dd bs=1M 2>/dev/null"
}

# The text tools take turns apart from the floor: seconds of theirs between
# runs made the floor's times swing by twice (page reporting to the host?).
tool_jobs() {
  local opts=$1 in=$2 sed_script=$3 mawk_script=$4 perl_args=$5
  echo "tavlen|'$tavlen' $opts $in out.tavlen"
  echo "dd|dd if=$in of=out.dd bs=1M 2>/dev/null"
  echo "cat|cat $in > out.cat"
  echo "sed|sed '$sed_script' $in > out.sed"
  [[ -z $mawk_script ]] || echo "mawk|mawk '$mawk_script' $in > out.mawk"
  echo "perl|perl $perl_args $in > out.perl"
  echo "dos2unix|dos2unix -q -n $in out.dos2unix"
}

available() {
  [[ $1 == tavlen || $1 == floor ]] || command -v "$1" >/dev/null
}

median() {
  sort -n | {
    mapfile -t v
    local n=${#v[@]}
    if ((n % 2)); then echo "${v[n / 2]}"; else echo $(((v[n / 2 - 1] + v[n / 2]) / 2)); fi
  }
}

# a/b rounded to two decimals, from integers.
ratio() {
  local r=$((($1 * 200 / $2 + 1) / 2))
  printf '%d.%02d' $((r / 100)) $((r % 100))
}

seconds() { printf '%d.%03d' $(($1 / 1000000)) $(($1 / 1000 % 1000)); }

now_us() {
  local t=${EPOCHREALTIME/[.,]/}
  echo $((10#$t))
}

summary=()

# run_jobs TITLE FILE: times the jobs read from standard input.
run_jobs() {
  local title=$1 file=$2
  local -a names=() cmds=()
  local job
  while IFS= read -r job; do
    if available "${job%%|*}"; then
      names+=("${job%%|*}")
      cmds+=("${job#*|}")
    else
      echo "note: ${job%%|*} is not installed; skipped" >&2
    fi
  done
  local -A times=() rss=() med=() least=()
  local round i t0 t1
  for ((round = 1; round <= rounds; ++round)); do
    for i in "${!names[@]}"; do
      # Every run starts from the same files: only the inputs, synced.
      rm -f out.* binary.tmp
      sync
      t0=$(now_us)
      eval "${cmds[i]}" </dev/null || { echo "FAILED: ${names[i]} on $file" >&2; exit 1; }
      t1=$(now_us)
      times[${names[i]}]+="$((t1 - t0)) "
    done
  done
  # One more run each for peak memory, apart from the timed ones; these
  # outputs stay for the checks.
  for i in "${!names[@]}"; do
    rss[${names[i]}]="n/a"
    if [[ -n $gnu_time ]]; then
      rm -f "out.${names[i]}"
      $gnu_time -f %M -o rss.txt sh -c "exec ${cmds[i]}"
      rss[${names[i]}]=$(tail -n 1 rss.txt)
    fi
    med[${names[i]}]=$(tr ' ' '\n' <<<"${times[${names[i]}]}" | grep . | median)
    least[${names[i]}]=$(tr ' ' '\n' <<<"${times[${names[i]}]}" | grep . | sort -n | head -n 1)
  done

  echo
  echo "$title: $file, $(($(stat -c %s "$file") >> 20)) MiB, $rounds rounds"
  local row='%-9s %9s %9s %8s %8s %9s %13s\n'
  # shellcheck disable=SC2059
  printf "$row" tool "median s" "min s" "x floor" "x dd" "x tavlen" "peak RSS KiB"
  for i in "${!names[@]}"; do
    local m=${med[${names[i]}]} by=() base
    for base in floor dd tavlen; do
      if [[ -n ${med[$base]:-} ]]; then by+=("$(ratio "$m" "${med[$base]}")"); else by+=(-); fi
    done
    # shellcheck disable=SC2059
    printf "$row" "${names[i]}" "$(seconds "$m")" "$(seconds "${least[${names[i]}]}")" \
      "${by[@]}" "${rss[${names[i]}]}"
  done
  if ((verbose)); then
    for i in "${!names[@]}"; do
      local us ms=""
      for us in ${times[${names[i]}]}; do ms+=" $((us / 1000))"; done
      echo "${names[i]} ms:$ms"
    done
  fi
  [[ -n ${med[floor]:-} ]] || return 0
  # Load from elsewhere only ever adds time: the fastest runs are a second view.
  local lines=() other line
  for other in floor dd; do
    local t=${med[tavlen]} o=${med[$other]} tl=${least[tavlen]} ol=${least[$other]}
    line="tavlen / ${other/dd/dd bs=1M}: $(ratio "$t" "$o")"
    line+=" (median $(seconds "$t") s vs $(seconds "$o") s, $rounds rounds;"
    line+=" fastest $(seconds "$tl") s vs $(seconds "$ol") s: $(ratio "$tl" "$ol"))"
    lines+=("$line")
  done
  printf '%s\n' "${lines[@]}"
  summary+=("$title" "${lines[@]/#/  }")
}

# compare TITLE OPTIONS SED_SCRIPT MAWK_SCRIPT PERL_ARGS, on $in: times the
# jobs and checks the outputs of the last runs, tavlen's against sed's.
compare() {
  local title=$1 opts=$2 sed_script=$3 name
  run_jobs "$title" "$in" < <(floor_jobs "$opts" "$in")
  sed "$sed_script" "$in" >expected
  for name in tavlen floor dd; do
    local want=$in
    [[ $name != tavlen ]] || want=expected
    if ! cmp -s "out.$name" "$want"; then
      echo "check FAILED: $name's output on $in differs from $want (sed '$sed_script')" >&2
      exit 1
    fi
  done
  echo "check: tavlen's output equals that of sed '$sed_script'; the floor's and dd's equal $in"
  ((quick)) || run_jobs "$title, with the text tools" "$in" < <(tool_jobs "$opts" "$in" "${@:3}")
}

# Relative to the project, or the name alone: no folder of this machine.
if [[ $tavlen == "$src"/* ]]; then
  echo "tavlen: ${tavlen#"$src"/}"
else
  echo "tavlen: ${tavlen##*/}"
fi
echo "floor: build-bench/bench/tavlen_floor; copy: dd bs=1M"
model=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "machine: $(nproc) cores, $model," \
  "Linux $(uname -r), scratch dir on $(df --output=fstype . | tail -n 1)"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"

csv_sed='s/,\r$/\r/'
in=in.csv
compare "CSV -m (cut the separator before CR LF)" -m "$csv_sed" \
  '{ sub(/,\r$/, "\r"); print }' "-pe '$csv_sed'"
if [[ $cross_check -eq 1 ]]; then
  if command -v hyperfine >/dev/null; then
    # Named, so that no folder of this machine shows.
    hyperfine -r "$rounds" -p 'rm -f out.* binary.tmp; sync' -n tavlen -n floor -n dd \
      "'$tavlen' -m in.csv out.tavlen" "'$floor' in.csv out.floor" "dd if=in.csv of=out.dd bs=1M"
  else
    echo "note: hyperfine is not installed; no cross-check" >&2
  fi
fi

in=in.txt
compare "text -x2 (drop every second line of a CR LF text)" -x2 'n;d' 'NR % 2' \
  "-ne 'print if \$. % 2'"

# mawk is left out: it takes a minute on one line of 100 MiB.
in=in.line
compare "long line -m (one line, one CR LF at its end)" -m "$csv_sed" '' "-pe '$csv_sed'"

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
echo
echo "summary, medians of alternating runs:"
printf '%s\n' "${summary[@]}"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f out.* rss.txt expected
