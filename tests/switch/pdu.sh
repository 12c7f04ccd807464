#!/usr/bin/env bash
# A test lab's power daemon, set up as the README shows: Debian's pdudaemon
# with the localcmdline driver runs tarnwick-switch for each request on its
# HTTP API, first with the window closed (tarnwick-switch opens COM1 itself),
# then with the window open (the command goes through the window). The daemon
# queues requests and answers before running them, so each check waits for
# the board to see the bytes.
#   pdu.sh TARNWICK TARNWICK_SWITCH BOARD
set -uo pipefail
for tool in pdudaemon curl; do
  command -v "$tool" >/dev/null || { echo "pdu: no $tool (scripts/setup installs it)" >&2; exit 77; }
done
program=$(realpath "$1") switch=$(realpath "$2") board=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../e2e/lib.sh
. "$here/../e2e/lib.sh"
daemon_pid=""
stop_daemon() {
  [ -n "$daemon_pid" ] || return 0
  kill -TERM "$daemon_pid" 2>/dev/null
  local tries=100
  while kill -0 "$daemon_pid" 2>/dev/null && ((tries-- > 0)); do sleep 0.05; done
  kill -KILL "$daemon_pid" 2>/dev/null
  wait "$daemon_pid" 2>/dev/null
  daemon_pid=""
}
trap 'stop_daemon; stop_all; rm -rf "$tmp"' EXIT
# A failure shows what the daemon ran and what tarnwick-switch said there.
eval "lib_$(declare -f fail)"
fail() {
  [ -s "$tmp/pdudaemon.out" ] && { echo "--- pdudaemon.out" >&2; cat "$tmp/pdudaemon.out" >&2; }
  lib_fail "$@"
}

data=$tmp/data
mkdir -p "$data/tarnwick/dosdevices" "$tmp/cwd"
exit_button=$(centre 3960 2160 1335 375 0 0)
start_board "$board" "$(com1_link "$data")"

# The daemon on a free loopback port (one that refuses a connection now).
for _ in $(seq 50); do
  http=$((20000 + RANDOM % 20000))
  (exec 3<>"/dev/tcp/127.0.0.1/$http") 2>/dev/null || break
done
cat >"$tmp/pdudaemon.conf" <<JSON
{
  "daemon": { "hostname": "127.0.0.1", "port": $http, "logging_level": "DEBUG", "listener": "http" },
  "pdus": {
    "rack1": {
      "driver": "localcmdline",
      "cmd_on": "$switch %s on",
      "cmd_off": "$switch %s off"
    }
  }
}
JSON
# Its commands inherit this environment: the test's store (and COM1 link) and
# runtime folder (the window's endpoint). Log on standard output, where the
# commands' own output lands as well.
(cd "$tmp/cwd" && XDG_DATA_HOME=$data exec pdudaemon --conf "$tmp/pdudaemon.conf" --logfile -) \
  >"$tmp/pdudaemon.out" 2>&1 &
daemon_pid=$!
listening() {
  kill -0 "$daemon_pid" 2>/dev/null || fail "pdudaemon ended"
  (exec 3<>"/dev/tcp/127.0.0.1/$http") 2>/dev/null
}
await "pdudaemon to listen on 127.0.0.1:$http" 15 listening

# request ACTION [QUERY...]: one request; the daemon accepts it before it runs.
request() {
  local query="hostname=rack1&port=2${2:+&$2}" answer
  answer=$(curl -sS --max-time 10 "http://127.0.0.1:$http/power/control/$1?$query" 2>&1) \
    || fail "$1 $query: $answer"
  [ "$answer" = "OK - accepted request" ] || fail "$1 $query answered [$answer]"
}

# --- The window closed: tarnwick-switch opens COM1 itself --------------------
request on
await "P11 from the daemon" 15 board_has "P11"
request off
await "P10 from the daemon" 15 board_has "P11 P10"
request reboot delay=1
await "P10 P11 of the reboot" 20 board_has "P11 P10 P10 P11"
spacing=$(last_spacing)
echo "reboot with delay=1: on came ${spacing} ms after off"
# Loose: the delay, plus starting tarnwick-switch on a busy machine.
((spacing >= 900 && spacing < 6000)) || fail "reboot's on came ${spacing} ms after its off"

# --- The window open: it owns COM1, the commands go through it ---------------
start_x
start_program "$program" "$tmp/cwd" "$data"
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "the main window did not appear"
# It serves commands once it holds the port.
serving() { [ -n "$(find "$XDG_RUNTIME_DIR" -type s 2>/dev/null)" ]; }
await "the window's endpoint" 20 serving
before=$(board_commands)
request on
await "P11 through the window" 15 board_has "$before P11"
request off
await "P10 through the window" 15 board_has "$before P11 P10"
grep -q "Processing job for PDU rack1: (off 2)" "$tmp/pdudaemon.out" || fail "the daemon logged no job"
click "$main" $exit_button
await_program_end
[ "$status" = 0 ] || fail "the window ended with status $status"
stop_daemon
echo "pdu: ok"
