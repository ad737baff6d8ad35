#!/usr/bin/env bash
# Runs the cases of cases.txt (the format is described there) against the built
# program, each in a fresh scratch directory, and checks its exit status, its
# standard error and every file left there.
#   run_cases.sh PROGRAM VERSION [K/N]
# VERSION is the project's (for the usage screen); K/N runs every Nth case
# from the Kth (from 0).
# $TAVLEN_LAUNCHER (wine, valgrind and its options) goes in front of PROGRAM.
# Cases that need root (root:, tmpfs:, chown:) run, for a user who is not, as
# root of a user namespace (unshare -rm) in a second pass of this script where
# the system allows one; those that still cannot run are skipped and counted.
# $TAVLEN_ROOT=skip leaves them out; =only runs them alone, and gives status 77
# when some were skipped.
set -uo pipefail
export -n LC_ALL=C  # bytes here; the program keeps the caller's locale (Wine needs UTF-8)
export TAVLEN_PROGRAM=$(realpath "$1") TAVLEN_LAUNCHER=${TAVLEN_LAUNCHER:-}
shopt -u patsub_replacement 2>/dev/null  # "&" in a replacement is a plain byte
shard=${3:-0/1} platform=linux version=${2}000
version=${version%"${version#*.???}"}  # as the program shows it: 1.03 is 1.030
printf -v every "$(printf '\\x%02x' {1..46} {48..255})"  # every byte but NUL and '/'
tmp=$(mktemp -d) && mkdir "$tmp/bin"
dir=$tmp/run want=$tmp/want spelled=$tmp/run passed=0 failed=0 skipped=0 need_root=0
pass=all  # all: as root; user: the cases that need no root; root: only those
[[ ${TAVLEN_ROOT_PASS:-} ]] && pass=root
((EUID)) && pass=user
trap 'umount "$dir"/*/ 2>/dev/null; rm -rf "$tmp"' EXIT
# `tavlen` in a case: a command of its own, so that $! after `tavlen ... &` is
# the program.
printf '#!/bin/sh\nexec $TAVLEN_LAUNCHER "$TAVLEN_PROGRAM" "$@"\n' >"$tmp/bin/tavlen"
chmod +x "$tmp/bin/tavlen"
# LeakSanitizer cannot work under a tracer; the other checks still do.
if command -v strace >/dev/null; then
  printf '#!/bin/bash\nASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0 %s "$@"\n' \
    "exec -a strace $(printf %q "$(command -v strace)")" >"$tmp/bin/strace"
  chmod +x "$tmp/bin/strace"
fi
# `stop_at [-P PATH | -e EXPR]... CALL:N ACTION COMMAND...`: COMMAND stopped
# by strace at its Nth CALL (on PATH) while ACTION runs; its status, and its
# standard error with each kept name's number as N.
cat >"$tmp/bin/stop_at" <<'EOF'
#!/bin/bash
path=() && while [[ $1 == -[Pe] ]]; do path+=("$1" "$2") && shift 2; done
log=$TMPDIR/stop_at.log err=$TMPDIR/stop_at.err
rm -f "$log"
strace -o "$log" "${path[@]}" -e inject="${1%:*}:signal=STOP:when=${1##*:}" "${@:3}" 2>"$err" &
s=$!
until grep -qs "stopped by" "$log"; do sleep 0.01; done
eval "$2"; kill -CONT $(pgrep -P $s)
wait $s; s=$?; wait
grep -v ^strace: "$err" | sed -E 's/trimmed-[0-9]+/trimmed-N/' >&2; exit $s
EOF
chmod +x "$tmp/bin/stop_at"
[[ $TAVLEN_PROGRAM == *.exe ]] && platform=windows spelled=Z:${dir//\//\\}

# Sets REPLY to the bytes a token stands for (NUL cannot be one): quotes
# dropped, {N*TEXT} repeated, placeholders filled in, escapes.
decode() {
  local s=${1//\"/} re='\{([0-9]+)\*([^}]*)\}' pre post n
  if [[ $s =~ $re ]]; then
    pre=${s%%"${BASH_REMATCH[0]}"*} n=${BASH_REMATCH[1]}
    post=${s:${#pre}+${#BASH_REMATCH[0]}}
    decode "${BASH_REMATCH[2]}"
    local one=$REPLY r=$REPLY
    while ((${#r} < n * ${#one})); do r+=$r; done
    decode "$pre" && pre=$REPLY && decode "$post"
    REPLY=$pre${r:0:n*${#one}}$REPLY
    return
  fi
  s=${s//\{dir\}/${spelled//\\/\\\\}} s=${s//\{version\}/$version}
  printf -v REPLY %b "${s//\{bytes\}/${every//\\/\\\\}}"
}

# Sets words to $1 split at spaces outside double quotes.
split() {
  local s=$1 re='^ *(([^ "]|"[^"]*")+)'
  words=()
  while [[ $s =~ $re ]]; do words+=("${BASH_REMATCH[1]}") && s=${s:${#BASH_REMATCH[0]}}; done
}

# $TAVLEN_CASES, when set, runs only the case that starts on that line (as
# FAILED prints it), or the cases whose text that extended regex matches.
run_case() {  # LINE TEXT
  local pick=${TAVLEN_CASES:-} digits='^[0-9]+$'
  [[ -z $pick || ($pick =~ $digits && $1 == "$pick") || (! $pick =~ $digits && $2 =~ $pick) ]] ||
    { skipped=$((skipped + 1)) && return; }
  local only=${2%%: *} setup=${2%%\$ *} run=${2#*\$ } expect=${2#* => } t n status=0 limit=65536
  [[ $only == linux || $only == windows ]] && setup=${setup#*: } || only=
  [[ $only && $only != "$platform" ]] && skipped=$((skipped + 1)) && return
  local root=
  [[ $setup == 'root: '* || " $setup" =~ \ (tmpfs|chown): ]] && root=1 setup=${setup#root: }
  [[ ${TAVLEN_ROOT:-} == skip && $root || ${TAVLEN_ROOT:-} == only && ! $root ]] &&
    skipped=$((skipped + 1)) && return
  [[ $pass == user && $root ]] && need_root=$((need_root + 1)) && return
  [[ $pass == root && ! $root ]] && return
  rm -rf "$dir" "$want" && mkdir "$dir"
  split "$setup"
  for t in "${given[@]}" "${words[@]}"; do
    decode "${t%%=*}" && n=$REPLY && decode "${t#*=}"
    case $t in
      tmpfs:*) mkdir "$dir/${n#*:}" && mount -t tmpfs -o "size=$REPLY" tmpfs "$dir/${n#*:}" ||
        { ((++need_root)) && return; } ;;
      # Only one user id is ours in a user namespace.
      chown:*) chown "$REPLY" "$dir/${n#*:}" 2>/dev/null || { ((++need_root)) && return; } ;;
      limit:*) limit=${t#*:} ;;
      ln:*) ln "$dir/$REPLY" "$dir/${n#*:}" ;;
      ln-s:*) ln -s "$REPLY" "$dir/${n#*:}" ;;
      fifo:*) mkfifo "$dir/${n#*:}" && { printf %s "$REPLY" >"$dir/${n#*:}" & } ;;
      *=*) mkdir -p "$(dirname "$dir/$n")" && printf %s "$REPLY" >"$dir/$n" ;;
      */) mkdir -p "$dir/$n" ;;
    esac
  done
  cp -a "$dir" "$want"
  # In the command, a placeholder or repeat is one quoted word.
  local re='\{(dir|version|bytes|[0-9]+\*[^}]*)\}' run=${run%% => *}
  while [[ $run =~ $re ]]; do
    t=${BASH_REMATCH[0]} && decode "$t" && n=${run%%"$t"*}
    printf -v REPLY %q "$REPLY" && run=$n$REPLY${run:${#n}+${#t}}
  done
  (cd "$dir" && ulimit -f "$limit" && PATH=$tmp/bin:$PATH TMPDIR=$tmp exec timeout -s KILL 60 \
    bash -c "$run") 2>"$tmp/err" &
  wait $!
  local got=$? err=
  # What the run left behind (timeout leads a process group), and a FIFO
  # writer that the run never read from.
  kill -KILL -- -$! $(jobs -p) 2>/dev/null
  wait
  split "$expect"
  for t in "${words[@]}"; do
    decode "${t%%=*}" && n=$REPLY && decode "${t#*=}"
    case $t in
      \"*) err+=$REPLY ;;
      *=*) mkdir -p "$(dirname "$want/$n")" && printf %s "$REPLY" >"$want/$n" ;;
      */) mkdir -p "$want/$n" ;;
      *\?) rm -rf "${want:?}/${n%\?}" "${dir:?}/${n%\?}" ;;
      *) status=$t ;;
    esac
  done
  [[ $platform == windows ]] && err=${err//$'\n'/$'\r\n'}  # messages end in CR LF there
  printf %s "$err" >"$tmp/err.want"
  if [[ $got == "$status" ]] && cmp -s "$tmp/err" "$tmp/err.want" &&
    diff -rq --no-dereference "$want" "$dir" >/dev/null; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED line %s: %s\n  status %s, want %s\n' "$1" "$2" "$got" "$status"
    printf '  stderr %q\n    want %q\n' "$(head -c 300 "$tmp/err" && echo /)" "$err/"
    timeout 10 diff -r -a --no-dereference "$want" "$dir" | cat -v | head -c 3000
  fi
  umount "$dir"/*/ 2>/dev/null
}

given=() line=() count=0 number=0
while IFS= read -r text || [[ $text ]]; do
  ((++number))
  [[ $text == ' '* ]] && line[1]+=$text && continue
  [[ $text == '#'* ]] && text=
  ((${#line[@]} && count++ % ${shard#*/} == ${shard%/*})) && run_case "${line[@]}"
  line=()
  [[ $text == given* ]] && split "${text#given}" && given=("${words[@]}")
  [[ $text == *'$ '* ]] && line=("$number" "$text")
done < <(cat "$(dirname "$0")/cases.txt" && echo)
[[ $pass == root ]] && echo "$passed $failed $need_root" >"$TAVLEN_ROOT_PASS" && exit
if [[ $pass == user ]] && ((need_root)) && unshare -rm true 2>/dev/null; then
  TAVLEN_ROOT_PASS=$tmp/root_pass unshare -rm "$0" "$@"
  read -r p f need_root <"$tmp/root_pass" || failed=$((failed + 1))
  echo "cases: ${p:-0} run as root of a user namespace"
  passed=$((passed + ${p:-0})) failed=$((failed + ${f:-0}))
fi
echo "cases: $passed passed, $failed failed, $skipped skipped"
((need_root)) && echo "$need_root cases need root: skipped"
((failed == 0)) || exit 1
((need_root == 0)) || [[ ${TAVLEN_ROOT:-} != only ]] || exit 77
