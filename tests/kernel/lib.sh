# Helpers of the scripts that run inside the test machine (sourced). Each check prints one
# "KV ok|FAIL|skip NAME" line on the console, which the host stamps and counts.
bin="$KV_BUILD/tests/kernel"
# The work folder is the machine's memory: the host's share (KV_WORK) takes no sockets, FIFOs or
# file locks. keep_logs copies the text files there for a look after the run.
W=/tmp/w
mkdir -p "$W"
keep_logs() {
  (cd "$W" && find . -type f \( -name '*.out' -o -name '*.log' -o -name '*.json' -o -name '*.ini' \) -print0 |
    xargs -0 -r cp --parents -t "$KV_WORK" 2>/dev/null)
}
trap keep_logs EXIT
fails=0
# A fixture that has ended must fail the next command sent to it, not end this script.
trap '' PIPE
# want GROUP: the run checks that group (KV_ARGS lists groups; empty: all).
want() { [ -z "${KV_ARGS:-}" ] || [[ " $KV_ARGS " == *" $1 "* ]]; }
ok() { echo "KV ok $1"; }
fail() { echo "KV FAIL $1${2:+: $2}"; fails=$((fails + 1)); }
skip() { echo "KV skip $1${2:+: $2}"; }
info() { echo "KV info $*"; }
figure() { echo "KV figure $*"; }
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then ok "$1"; else fail "$1" "expected '$2', got '$3'"; fi
}
check_true() {  # check_true NAME DETAIL COMMAND...: the command succeeds
  local name=$1 detail=$2; shift 2
  if "$@"; then ok "$name"; else fail "$name" "$detail"; fi
}
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local deadline=$(( $(date +%s%N) / 1000000 + $1 * 1000 )); shift
  until "$@" >/dev/null 2>&1; do
    [ "$(( $(date +%s%N) / 1000000 ))" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}
wait_until() {  # wait_until SECONDS 'CONDITION': until the shell condition, evaluated afresh each time, holds
  local deadline=$(( $(date +%s%N) / 1000000 + $1 * 1000 ))
  until eval "$2" >/dev/null 2>&1; do
    [ "$(( $(date +%s%N) / 1000000 ))" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

# Device fixtures driven through a FIFO: uhid_start NAME ARGS... (kv_uhid's arguments);
# uhid_send NAME COMMAND; their output is in $W/NAME.out.
declare -A uhid_fd uhid_pid
uhid_start() {
  local name=$1; shift
  rm -f "$W/$name.in" && mkfifo "$W/$name.in"
  "$bin/kv_uhid" "$@" <"$W/$name.in" >"$W/$name.out" 2>&1 &
  uhid_pid[$name]=$!
  local fd
  exec {fd}>"$W/$name.in"
  uhid_fd[$name]=$fd
}
uhid_send() { echo "$2" >&"${uhid_fd[$1]}" 2>/dev/null; }
uhid_stop() {
  uhid_send "$1" quit 2>/dev/null || true
  exec {uhid_fd[$1]}>&-
  wait "${uhid_pid[$1]}" 2>/dev/null || true
}
# The hidraw node of the fixture's last plug (waits for it).
uhid_node() {
  wait_for 10 grep -q '^hidraw /dev/\|^error\|^kv_uhid:' "$W/$1.out"
  grep -q '^hidraw /dev/' "$W/$1.out" || { echo none; return 1; }
  sed -n 's/^hidraw //p' "$W/$1.out" | tail -n 1
}
# How many lines of the fixture's output match (a fixed string).
uhid_seen() { grep -cF -- "$2" "$W/$1.out" || true; }

# The monitor's side: descriptors, CPU time and threads of a process.
fds_to() { local n=0 l; for l in /proc/$1/fd/*; do [ "$(readlink "$l" 2>/dev/null)" = "$2" ] && n=$((n + 1)); done; echo $n; }
fd_count() { ls /proc/$1/fd 2>/dev/null | wc -l; }
cpu_ticks() { awk '{print $14 + $15}' /proc/$1/stat; }
ctx_switches() { awk '/ctxt_switches/ {s += $2} END {print s}' /proc/$1/task/*/status; }
threads() { ls /proc/$1/task | wc -l; }
