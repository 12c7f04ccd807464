#!/usr/bin/env bash
# A lab script switching the board while the window holds the port: the
# command goes through the window, which does what a press does. Checked from
# outside: tarnwick-switch's exit status and output, the bytes the board saw,
# their timing, and (Linux) what the window shows.
#   owner.sh TARNWICK TARNWICK_SWITCH BOARD TWK_HELPER
# TARNWICK_PROGRAM_KIND=wine runs tarnwick.exe and tarnwick-switch.exe under
# Wine (lib.sh); the cases that need the helper's view, a raw client on the
# endpoint or another user run on Linux only.
set -uo pipefail
[ -e "$1" ] && [ -e "$2" ] || { echo "owner: no $1 or $2 (scripts/build-windows makes the .exe)" >&2; exit 77; }
program=$(realpath "$1") switch=$(realpath "$2") board=$(realpath "$3") helper=$(realpath "$4")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"

data=$tmp/data
mkdir -p "$data/tarnwick/dosdevices" "$tmp/cwd"
exit_button=$(centre 3960 2160 1335 375 0 0)

# start ARG...: tarnwick-switch in the background (run, finish, show: lib.sh).
start() {
  if [ "$program_kind" = wine ]; then
    (cd "$tmp/cwd" && exec timeout 60 wine "$switch" "$@") >"$tmp/out.raw" 2>"$tmp/err.raw" &
  else
    (cd "$tmp/cwd" && XDG_DATA_HOME=$data exec "$switch" "$@") >"$tmp/out.raw" 2>"$tmp/err.raw" &
  fi
  switch_pid=$!
}
expect() {  # STATUS OUT ERR_PATTERN WHAT (as in switch.sh)
  [ "$status" = "$1" ] || fail "$4: $(show), expected status $1"
  [ "$(paste -sd'|' "$tmp/out")" = "$2" ] || fail "$4: $(show), expected out [$2]"
  if [ -z "$3" ]; then
    [ -s "$tmp/err" ] && fail "$4: $(show), expected nothing on stderr"
  else
    grep -qE "$3" "$tmp/err" || fail "$4: $(show), expected a line like $3"
  fi
}
board_ends_with() { [[ " $(board_commands)" == *" $1" ]]; }
board_speed_is() { [ "$(board_speed)" = "$1" ]; }
shown=$tmp/shown.txt
shows() { [ "$program_kind" != linux ] || grep -qxF "$1" "$shown" 2>/dev/null; }
log_has() { [ "$program_kind" != linux ] || grep -qE "^log: .*$1" "$shown" 2>/dev/null; }

start_x
start_board "$board" "$(com1_link "$data")"
if [ "$program_kind" = linux ]; then
  # The window's twin that also writes down what it shows.
  QT_QPA_PLATFORM=xcb TWK_KEEP_COM1=1 start_program "$helper" "$tmp/cwd" "$data" watch "$shown"
else
  start_program "$program" "$tmp/cwd" "$data"
fi
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "the main window did not appear"
await "the window to open the port" 20 board_speed_is 9600

# --- Through the window: what a press does, what tarnwick-switch says --------
# Columns: the board's last commands, a line the window shows, the answers
# printed, the arguments ("_" a space, "," between items, "-" nothing).
while read -r expected_board shown_line answers args; do
  read -ra words <<<"${args//,/ }"
  answers=${answers//_/ } answers=${answers//,/|}
  run "${words[@]}"
  expect 0 "${answers#-}" "" "${args//,/ } through the window"
  await "${expected_board//,/ } at the board" 10 board_ends_with "${expected_board//,/ }"
  [ "$shown_line" = - ] || await "the window to show [${shown_line//_/ }]" 10 shows "${shown_line//_/ }"
done <<'ROWS'
P01     Port_1:_ON_ON.gif     P01_OK          1,on
P00     Port_1:_OFF_OFF.gif   P00_OK          1,off,--wait,5000
P90     -                     P90_OK          init
P41     Port_5:_ON_ON.gif     -               --wait,0,5,on
ROWS
log_has "MCU -> Initialize" || fail "init through the window left no Initialize line: $(cat "$shown")"
log_has "Received: ----> OK - P90 OK" || fail "the board's answer is not in the message log: $(cat "$shown")"

run 3 pulse 300 --wait 5000
expect 0 "P21 OK|P20 OK" "" "3 pulse 300 through the window"
await "the pulse's P20" 10 board_ends_with "P21 P20"
check_pulse 300 "through the window"
await "port 3 shown OFF after the pulse" 10 shows "Port 3: OFF OFF.gif"

# --- The script killed mid-pulse: the window still sends the off at its time --
start 2 pulse 1500
await "P11 of the pulse" 10 board_ends_with "P11"
kill -KILL "$switch_pid"
{ wait "$switch_pid"; } 2>/dev/null
sleep 0.5
board_ends_with "P11" || fail "the off went out early when the script was killed: [$(board_commands)]"
await "P10 at the pulse's time" 10 board_ends_with "P11 P10"
spacing=$(last_spacing)
((spacing >= 1400 && spacing <= 3500)) || fail "a killed script's 1500 ms pulse ended after $spacing ms"
await "port 2 shown OFF" 10 shows "Port 2: OFF OFF.gif"

# --- The script interrupted mid-pulse: its cancel sends the off at once ------
start 4 pulse 60000
await "P31 of the long pulse" 10 board_ends_with "P31"
kill -INT "$switch_pid"
finish "4 pulse 60000 (SIGINT)"
await "P30 after the interrupt" 5 board_ends_with "P31 P30"
[ "$status" = 130 ] && grep -q "interrupted" "$tmp/err" \
  || fail "pulse through the window interrupted: $(show), expected status 130"

if [ "$program_kind" = linux ]; then
  endpoint=$(find "$XDG_RUNTIME_DIR" -type s | head -n1)
  [ -S "$endpoint" ] || fail "no endpoint under $XDG_RUNTIME_DIR"

  # --- Clients that never finish hold nothing up --------------------------
  # One says nothing, one sends a byte a second, one sends garbage.
  python3 - "$endpoint" >"$tmp/clients.out" 2>&1 <<'PY' &
import socket, sys, time
path = sys.argv[1]
silent = socket.socket(socket.AF_UNIX); silent.connect(path)
slow = socket.socket(socket.AF_UNIX); slow.connect(path)
junk = socket.socket(socket.AF_UNIX); junk.connect(path)
junk.sendall(b"6 on\n")
reply = b""
while chunk := junk.recv(4096):
    reply += chunk
print("junk:", reply.decode().replace("\n", "|"), flush=True)
for b in b"1 on --wa":
    slow.sendall(bytes([b])); time.sleep(1)
PY
  clients_pid=$!
  await "the garbage client's answer" 10 grep -q "^junk:" "$tmp/clients.out"
  grep -q '^junk: error tarnwick-switch: PORT must be 1 to 5, not "6"|status 2|$' "$tmp/clients.out" \
    || fail "a malformed request was answered: $(cat "$tmp/clients.out")"
  before=$(date +%s%N)
  run 1 on
  took=$((($(date +%s%N) - before) / 1000000))
  expect 0 "P01 OK" "" "1 on while silent and slow clients hang on"
  echo "1 on through the window with three stuck clients: $took ms"
  ((took < 1500)) || fail "stuck clients held a request up for $took ms"
  board_ends_with "P31 P30 P01" || fail "a malformed request reached the board: [$(board_commands)]"
  kill "$clients_pid" 2>/dev/null; wait "$clients_pid" 2>/dev/null

  # --- Another user: refused, nothing switched ------------------------------
  if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
    # It may read the store (so it names the same endpoint), not the window's
    # private folder, nor the board's pseudo-terminal.
    chmod o+x "$tmp"; chmod -R o+rX "$data"
    commands_before=$(board_commands)
    status=0
    (cd / && setpriv --reuid=nobody --regid=nogroup --clear-groups \
      env XDG_DATA_HOME="$data" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" "$switch" 1 off) \
      >"$tmp/out" 2>"$tmp/err" || status=$?
    [ "$status" = 3 ] || fail "another user's tarnwick-switch: $(show), expected status 3"
    [ "$(board_commands)" = "$commands_before" ] || fail "another user switched: [$(board_commands)]"
    chmod -R o-rX "$data"; chmod o-x "$tmp"
  else
    echo "owner: not root (or no setpriv): another user's request not tried"
  fi
fi

# --- Exit during a pulse: the off goes out before the port closes -----------
start 2 pulse 60000
await "P11 of the pulse" 10 board_ends_with "P11"
click "$main" $exit_button
await "P10 as the window exits" 10 board_ends_with "P11 P10"
await_program_end
finish "2 pulse 60000 (Exit)"
grep -q "port 2 switched off (P10 sent)" "$tmp/err" || fail "Exit during a pulse: $(show)"
echo "Exit during a script's pulse: $(show)"

# --- No window: tarnwick-switch opens the port itself ----------------------
program_stop
run 1 on
# A pseudo-terminal keeps what the board answered to the off sent at Exit
# for the next one to open it (a real line would drop it), so the answer
# printed may be that one.
[ "$status" = 0 ] || fail "1 on without a window: $(show)"
await "P01 without a window" 10 board_ends_with "P11 P10 P01"
echo "PASS"
