#!/usr/bin/env bash
# Times tavlen against the floor (bench/floor.cpp: the same file work with no
# trimming, which no run of this design can beat), a plain copy (dd bs=1M) and
# the usual text tools on the same jobs, alternating the tools round by round
# so that load from elsewhere hits all of them alike. tavlen, the floor and
# dd are timed twice over: fresh (each run starts with only its input) and
# rerun (each run onto the output its own last run left, which is truncated
# and rewritten). A 970-byte CSV is timed too, tavlen against the floor only,
# and the CSV and text jobs with tavlen and the floor both held to one CPU.
# Too slow for the test suite; run it by hand:
#
#   bench/compare.sh [-d DIR] [-b BUILD] [-r ROUNDS] [-n ROUNDS] [-t TAVLEN]
#                    [-q] [-s] [-v] [-H] [-p]
#
#   -d DIR     scratch directory for inputs and outputs
#              (default $TAVLEN_BENCH_DIR, else /tmp/tavlen-bench)
#   -b BUILD   a build tree configured with -DTAVLEN_BENCH=ON to build the
#              floor (and tavlen) in (default build-bench, bench preset)
#   -r ROUNDS  timed rounds per tool, per case, on 100 MiB (default 21)
#   -n ROUNDS  timed rounds per tool on the small CSV (default 50)
#   -t TAVLEN  the program to time (default: built with the floor)
#   -q         quick: tavlen, the floor and dd only
#   -s         skip the 300 MiB peak-memory run
#   -v         also print every run's time, in ms (on the small CSV in us),
#              in the order run
#   -H         also run hyperfine on the CSV job, as a cross-check
#   -p         pause free page reporting to the host while timing, and set
#              it back at the end (needs root; a machine-wide setting, so
#              only when asked); by default the machine is left as it is
set -euo pipefail

usage() { sed -n '12,31s/^# \{0,1\}//p' "$0"; }
src=$(cd "$(dirname "$0")/.." && pwd)
dir=${TAVLEN_BENCH_DIR:-/tmp/tavlen-bench}
rounds=21
small_rounds=50
build_arg=
tavlen=
quick=0
big=1
cross_check=0
verbose=0
pause_reporting=0
while getopts "d:b:r:n:t:qsvHph" opt; do
  case $opt in
    d) dir=$OPTARG ;;
    b) build_arg=$OPTARG ;;
    r) rounds=$OPTARG ;;
    n) small_rounds=$OPTARG ;;
    t) tavlen=$(realpath "$OPTARG") ;;
    q) quick=1 ;;
    s) big=0 ;;
    v) verbose=1 ;;
    H) cross_check=1 ;;
    p) pause_reporting=1 ;;
    h) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
  esac
done
((rounds >= 1 && small_rounds >= 1)) || { usage >&2; exit 2; }

targets=(tavlen_make_input tavlen_floor)
[[ -n $tavlen ]] || targets+=(tavlen)
if [[ -n $build_arg ]]; then
  build=$(realpath "$build_arg")
  echo "building ${targets[*]} in $build_arg ..." >&2
  cmake --build "$build" -j2 --target "${targets[@]}" >/dev/null
else
  build=$src/build-bench
  echo "building ${targets[*]} with the bench preset in build-bench ..." >&2
  (cd "$src" && cmake --preset bench >/dev/null &&
    cmake --build --preset bench -j2 --target "${targets[@]}" >/dev/null)
fi
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
# The whole lines of the CSV's first 1,000 bytes: 970 bytes, on every machine.
if [[ ! -f in.small.csv ]]; then
  head -n "$(head -c 1000 in.csv | tr -cd '\n' | wc -c)" in.csv >in.small.csv
fi

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

ms() { printf '%d.%02d' $(($1 / 1000)) $(($1 / 10 % 100)); }

summary=()

# time_rounds N CASE: N rounds of the jobs in $names and $cmds, each run in
# turn, adding each run's time in microseconds to times[CASE:NAME]. Fresh
# runs start with only the inputs; a rerun finds the output its tool's last
# run left. The clock is read in this shell, not in a $(...) subshell, whose
# fork and exit would add half a millisecond to every run.
time_rounds() {
  local n=$1 case=$2 round i t0 t1
  for ((round = 1; round <= n; ++round)); do
    for i in "${!names[@]}"; do
      [[ $case == rerun ]] || rm -f out.* binary.tmp
      sync
      t0=${EPOCHREALTIME/[.,]/}
      eval "${cmds[i]}" </dev/null || { echo "FAILED: ${names[i]} on $file" >&2; exit 1; }
      t1=${EPOCHREALTIME/[.,]/}
      times[$case:${names[i]}]+="$((10#$t1 - 10#$t0)) "
    done
  done
}

# stats CASE: med[CASE:NAME] and least[CASE:NAME] for every job, from times.
stats() {
  local i key
  for i in "${!names[@]}"; do
    key=$1:${names[i]}
    med[$key]=$(tr ' ' '\n' <<<"${times[$key]}" | grep . | median)
    least[$key]=$(tr ' ' '\n' <<<"${times[$key]}" | grep . | sort -n | head -n 1)
  done
}

# run_jobs TITLE FILE [rerun]: times the jobs read from standard input,
# fresh and, with "rerun", onto their own last outputs as well.
run_jobs() {
  local title=$1 file=$2 with_rerun=${3:-}
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
  local i cases=(fresh)
  time_rounds "$rounds" fresh
  if [[ -n $with_rerun ]]; then
    cases+=(rerun)
    # One untimed run each, so that the first timed rerun has an output.
    rm -f out.* binary.tmp
    for i in "${!names[@]}"; do
      eval "${cmds[i]}" </dev/null || { echo "FAILED: ${names[i]} on $file" >&2; exit 1; }
    done
    time_rounds "$rounds" rerun
  fi
  # One more run each for peak memory, apart from the timed ones; these
  # outputs stay for the checks.
  for i in "${!names[@]}"; do
    rss[${names[i]}]="n/a"
    if [[ -n $gnu_time ]]; then
      rm -f "out.${names[i]}"
      $gnu_time -f %M -o rss.txt sh -c "exec ${cmds[i]}"
      rss[${names[i]}]=$(tail -n 1 rss.txt)
    fi
  done
  local case
  for case in "${cases[@]}"; do stats "$case"; done

  echo
  echo "$title: $file, $(($(stat -c %s "$file") >> 20)) MiB, $rounds rounds"
  local row='%-9s %9s %9s %8s %8s %9s %13s\n'
  for case in "${cases[@]}"; do
    if [[ -n $with_rerun ]]; then
      if [[ $case == fresh ]]; then
        echo "fresh: each run starts with only its input"
      else
        echo "rerun: each run onto the output its last run left"
      fi
    fi
    # shellcheck disable=SC2059
    printf "$row" tool "median s" "min s" "x floor" "x dd" "x tavlen" "peak RSS KiB"
    for i in "${!names[@]}"; do
      local m=${med[$case:${names[i]}]} by=() base kib=-
      # Peak memory is taken from a fresh run only.
      [[ $case == rerun ]] || kib=${rss[${names[i]}]}
      for base in floor dd tavlen; do
        if [[ -n ${med[$case:$base]:-} ]]; then
          by+=("$(ratio "$m" "${med[$case:$base]}")")
        else
          by+=(-)
        fi
      done
      # shellcheck disable=SC2059
      printf "$row" "${names[i]}" "$(seconds "$m")" "$(seconds "${least[$case:${names[i]}]}")" \
        "${by[@]}" "$kib"
    done
  done
  if ((verbose)); then
    for case in "${cases[@]}"; do
      for i in "${!names[@]}"; do
        local us ms=""
        for us in ${times[$case:${names[i]}]}; do ms+=" $((us / 1000))"; done
        echo "${names[i]}${with_rerun:+ $case} ms:$ms"
      done
    done
  fi
  [[ -n ${med[fresh:floor]:-} ]] || return 0
  # Load from elsewhere only ever adds time: the fastest runs are a second view.
  local lines=() other line
  for other in floor dd; do
    [[ -n ${med[fresh:$other]:-} ]] || continue
    for case in "${cases[@]}"; do
      local t=${med[$case:tavlen]} o=${med[$case:$other]}
      local tl=${least[$case:tavlen]} ol=${least[$case:$other]}
      line="tavlen / ${other/dd/dd bs=1M}${with_rerun:+, $case}: $(ratio "$t" "$o")"
      line+=" (median $(seconds "$t") s vs $(seconds "$o") s, $rounds rounds;"
      line+=" fastest $(seconds "$tl") s vs $(seconds "$ol") s: $(ratio "$tl" "$ol"))"
      lines+=("$line")
    done
  done
  printf '%s\n' "${lines[@]}"
  summary+=("$title" "${lines[@]/#/  }")
}

# small TITLE OPTIONS SED_SCRIPT, on in.small.csv: tavlen against the floor
# over many rounds, for a run that is mostly starting up. A run of true, the
# least any program takes to start, shows how much of each time that is.
small() {
  local title=$1 opts=$2 sed_script=$3 file=in.small.csv
  local names=(tavlen floor true)
  local cmds=("'$tavlen' $opts $file out.tavlen" "'$floor' $file out.floor" "'$(type -P true)'")
  local -A times=() med=() least=()
  time_rounds "$small_rounds" fresh
  stats fresh
  echo
  echo "$title: $file, $(stat -c %s "$file") bytes, $small_rounds rounds"
  local row='%-9s %10s %10s %8s\n' i
  # shellcheck disable=SC2059
  printf "$row" tool "median ms" "min ms" "x floor"
  for i in "${!names[@]}"; do
    # shellcheck disable=SC2059
    printf "$row" "${names[i]}" "$(ms "${med[fresh:${names[i]}]}")" \
      "$(ms "${least[fresh:${names[i]}]}")" "$(ratio "${med[fresh:${names[i]}]}" "${med[fresh:floor]}")"
  done
  if ((verbose)); then
    for i in "${!names[@]}"; do echo "${names[i]} us: ${times[fresh:${names[i]}]}"; done
  fi
  # Each timed run removed the outputs before it: one more of each to check.
  eval "${cmds[0]}; ${cmds[1]}" </dev/null || { echo "FAILED: on $file" >&2; exit 1; }
  sed "$sed_script" "$file" >expected
  if ! cmp -s out.tavlen expected || ! cmp -s out.floor "$file"; then
    echo "check FAILED: on $file, tavlen's output differs from sed '$sed_script' or the floor's from $file" >&2
    exit 1
  fi
  echo "check: tavlen's output equals that of sed '$sed_script'; the floor's equals $file"
  local t=${med[fresh:tavlen]} f=${med[fresh:floor]} line
  line="tavlen / floor: $(ratio "$t" "$f") (median $(ms "$t") ms vs $(ms "$f") ms, $small_rounds rounds;"
  line+=" fastest $(ms "${least[fresh:tavlen]}") ms vs $(ms "${least[fresh:floor]}") ms:"
  line+=" $(ratio "${least[fresh:tavlen]}" "${least[fresh:floor]}"); true: $(ms "${med[fresh:true]}") ms)"
  echo "$line"
  summary+=("$title" "  $line")
}

# compare TITLE OPTIONS SED_SCRIPT MAWK_SCRIPT PERL_ARGS, on $in: times the
# jobs and checks the outputs of the last runs, tavlen's against sed's.
compare() {
  local title=$1 opts=$2 sed_script=$3 name
  run_jobs "$title" "$in" rerun < <(floor_jobs "$opts" "$in")
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
shown() {
  if [[ $1 == "$src"/* ]]; then echo "${1#"$src"/}"; else echo "${1##*/}"; fi
}
echo "tavlen: $(shown "$tavlen")"
echo "floor: $(shown "$floor"); copy: dd bs=1M"
model=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "machine: $(nproc) cores, $model," \
  "Linux $(uname -r), scratch dir on $(df --output=fstype . | tail -n 1)"
# A virtual machine may hand the memory its guest frees back to the host
# (free page reporting); the next run to use that memory faults it in on the
# host, which here made single runs of the floor take 4 to 5 times as long.
# Raising the order of what is reported above the largest block the kernel
# keeps stops it until the order is set back: only with -p.
reporting=/sys/module/page_reporting/parameters/page_reporting_order
if [[ ! -e $reporting ]]; then
  echo "free page reporting: none"
elif ((!pause_reporting)); then
  echo "free page reporting: on (order $(<"$reporting")), left as it is (-p pauses it):" \
    "expect outliers"
elif [[ -w $reporting ]] && old_order=$(<"$reporting") && echo 11 2>/dev/null >"$reporting"; then
  trap 'echo "$old_order" >"$reporting"' EXIT
  echo "free page reporting: paused while timing (order $old_order set to 11, set back on exit)"
else
  echo "free page reporting: on, and could not be paused: expect outliers"
fi
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

# one_cpu TITLE OPTIONS, on $in: tavlen and the floor both held to one CPU,
# as when the other CPU is busy or the process may use only one.
one_cpu() {
  local title=$1 opts=$2
  if ! command -v taskset >/dev/null; then
    echo "note: taskset is not installed; no run on one CPU" >&2
    return 0
  fi
  # The first CPU this shell may use.
  local cpu
  cpu=$(taskset -pc $$ | sed -e 's/.*: //' -e 's/[-,].*//')
  run_jobs "$title on one CPU (taskset -c $cpu)" "$in" < <(
    echo "tavlen|taskset -c $cpu '$tavlen' $opts $in out.tavlen"
    echo "floor|taskset -c $cpu '$floor' $in out.floor"
  )
}

one_cpu "CSV -m" -m

small "small CSV -m (the whole lines of the CSV's first 1,000 bytes)" -m "$csv_sed"

in=in.txt
compare "text -x2 (drop every second line of a CR LF text)" -x2 'n;d' 'NR % 2' \
  "-ne 'print if \$. % 2'"

one_cpu "text -x2" -x2

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
