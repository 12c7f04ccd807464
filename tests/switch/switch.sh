#!/usr/bin/env bash
# tarnwick-switch as a script meets it: its own process against the board on
# COM1, checked from outside only: the exit status, what it prints on each
# stream, the bytes the board saw (and, on the firmware board, its pins), and
# the settings store, which it must leave as it found it.
#   switch.sh TARNWICK_SWITCH BOARD [TARNWICK]
# TARNWICK_PROGRAM_KIND=wine runs tarnwick-switch.exe under Wine (tests/e2e/lib.sh).
# BOARD is tarnwick-board, or tarnwick-avr-board (the firmware in simavr), where
# only the cases whose outcome the firmware changes run: answers and pins.
# TARNWICK (the window, Linux only) holds the port: the command goes through it.
set -uo pipefail
[ -e "$1" ] || { echo "switch: no $1 (scripts/build-windows makes tarnwick-switch.exe)" >&2; exit 77; }
switch=$(realpath "$1") board=$(realpath "$2") window=${3:+$(realpath "$3")}
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../e2e/lib.sh
. "$here/../e2e/lib.sh"

avr=""
[ "$(basename "$board")" = tarnwick-avr-board ] && avr=1
data=$tmp/data
mkdir -p "$data/tarnwick/dosdevices" "$tmp/cwd"
link=$(com1_link "$data")
key='HKLM\SOFTWARE\Tarnwick Works\Tarnwick'

# start ARG... starts it in the background: $switch_pid; run, finish, show and
# last_spacing come from ../e2e/lib.sh.
case $program_kind in
  linux)
    start() { (cd "$tmp/cwd" && XDG_DATA_HOME=$data exec "$switch" "$@") >"$tmp/out.raw" 2>"$tmp/err.raw" & switch_pid=$!; }
    store_set() {
      printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works\\Tarnwick]\r\n"%s"="%s"\r\n' "$1" "$2" \
        >"$data/tarnwick/registry.reg"
    }
    store_dump() { cat "$data/tarnwick/registry.reg" 2>/dev/null || echo "(no store)"; }
    ;;
  wine)
    wine_setup "$tmp/wine" >"$tmp/wine-setup.out" 2>&1 || fail "no Wine prefix: $(cat "$tmp/wine-setup.out")"
    wine_ports COM1 "$link" >>"$tmp/wine-setup.out" 2>&1 || fail "COM1 not mapped: $(cat "$tmp/wine-setup.out")"
    start() {
      [ -n "$(wine_server_pid)" ] || wine_server_start
      (cd "$tmp/cwd" && exec wine "$switch" "$@") >"$tmp/out.raw" 2>"$tmp/err.raw" &
      switch_pid=$!
    }
    store_set() { timeout 60 wine reg add "$key" /v "$1" /d "$2" /f >/dev/null 2>&1 || fail "could not set $1"; }
    store_dump() { timeout 60 wine reg query "$key" 2>&1 | tr -d '\r'; }
    ;;
esac
expect() {  # STATUS OUT ERR_PATTERN WHAT (OUT lines joined with |; ERR: grep -E, "" for none)
  [ "$status" = "$1" ] || fail "$4: $(show), expected status $1"
  [ "$(paste -sd'|' "$tmp/out")" = "$2" ] || fail "$4: $(show), expected out [$2]"
  if [ -z "$3" ]; then
    [ -s "$tmp/err" ] && fail "$4: $(show), expected nothing on stderr"
  else
    [ "$(wc -l <"$tmp/err")" = 1 ] && grep -qE "$3" "$tmp/err" || fail "$4: $(show), expected one line like $3"
  fi
}
# The board's last commands are $1 (answers and lost bytes on the firmware board).
board_ends_with() { [[ " $(board_commands | sed 's/ *lost//g')" == *" $1" ]]; }

# --- Bad arguments: refused before the port is opened ----------------------
no_store=$(store_dump)
start_board "$board" "$link"
has_speed() { [ -n "$(board_speed)" ]; }
await "the board's first line speed" 5 has_speed
speed_before=$(board_speed)
while IFS= read -r row; do
  read -ra args <<<"$row"
  run "${args[@]}"
  expect 2 "" "^tarnwick-switch: .*--help" "arguments [$row]"
done <<'ROWS'
6 on
0 off
1 blink
1 on now
1 pulse
1 pulse 0
1 pulse 10ms
--wait
--wait -1 1 on
--wait 1x 1 on
--fast 1 on
init 1
ROWS
run
expect 2 "" "no command" "no arguments"
board_has "" && [ "$(board_speed)" = "$speed_before" ] \
  || fail "bad arguments reached the line: commands [$(board_commands)], speed $(board_speed)"

# --- The board answers ------------------------------------------------------
run 1 on
expect 0 "P01 OK" "" "1 on"
await "P01 at the board" 10 board_has "P01"
run 3 pulse 300 --wait 5000
expect 0 "P21 OK|P20 OK" "" "3 pulse 300"
await "the pulse's P21 P20 at the board" 10 board_has "P01 P21 P20"
check_pulse 300 "tarnwick-switch"
run --wait 0 init
expect 0 "" "" "init --wait 0"
if [ -n "$avr" ]; then
  # The firmware's answer meets a closed port (the board reports it lost):
  # the pins show what it did.
  await "port 1 off after P90" 5 pins_are "1:high 3:high 3:low 1:low"
else
  await "P90 after --wait 0" 5 board_has "P01 P21 P20 P90"
fi

[ "$(store_dump)" = "$no_store" ] || fail "runs without stored settings created some: $(store_dump)"

# --- Whatever signal ends a pulse, its off still goes out -------------------
# Each signal that would end the program (sent, not a fault of its own): the
# exit status (128 + its number), the board's last commands, one line on
# stderr. Wine turns SIGINT into Ctrl+C; the firmware board needs only two.
while read -r sig code commands; do
  [ "$program_kind" = wine ] && [ "$sig" != INT ] && continue
  [ -n "$avr" ] && [ "$sig" != INT ] && [ "$sig" != TERM ] && continue
  start 2 pulse 60000
  await "P11 of the long pulse" 10 board_ends_with "P11"
  kill -"$sig" "$switch_pid"
  finish "2 pulse 60000 (SIG$sig)"
  [ "$program_kind" = wine ] && code=130
  await "$commands after SIG$sig" 5 board_ends_with "$commands"
  [ "$status" = "$code" ] && [ "$(wc -l <"$tmp/err")" = 1 ] &&
    grep -q "interrupted; port 2 switched off (P10 sent)" "$tmp/err" \
    || fail "pulse interrupted by SIG$sig: $(show), expected status $code"
done <<'ROWS'
INT    130 P11 P10
TERM   143 P11 P10
HUP    129 P11 P10
QUIT   131 P11 P10
USR1   138 P11 P10
USR2   140 P11 P10
ALRM   142 P11 P10
XCPU   152 P11 P10
VTALRM 154 P11 P10
PROF   155 P11 P10
RTMIN  162 P11 P10
SEGV   139 P11 P10
ABRT   134 P11 P10
ROWS
[ -z "$avr" ] || await "the pins after the interrupted pulses" 5 \
  pins_are "1:high 3:high 3:low 1:low 2:high 2:low 2:high 2:low"

if [ -z "$avr" ]; then
  # --- The board refuses: a pulse's off goes out at once ----------------------
  start_board "$board" "$link" --reply 'ERR\r\n'
  run 4 on --wait 5000
  expect 1 "ERR" "" "4 on, answered ERR"
  run 4 pulse 60000 --wait 5000
  expect 1 "ERR|ERR" "" "4 pulse 60000, answered ERR"
  await "P31 P31 P30 at the board after ERR to the pulse's on" 10 board_has "P31 P31 P30"

  # --- Ctrl+Z during a pulse: the process stops once the off is out ----------
  if [ "$program_kind" = linux ]; then
    stopped() { [[ "$(ps -o stat= -p "$switch_pid")" == T* ]]; }
    start_board "$board" "$link"
    # Its own process group, so that the stop is not dropped as it is for an
    # orphaned group (ctest may start this script as one).
    set -m
    start 2 pulse 1500
    set +m
    await "P11 of the pulse" 10 board_ends_with "P11"
    kill -TSTP "$switch_pid"
    sleep 0.2
    stopped && fail "stopped with port 2 on: board [$(board_commands)]"
    await "the process to stop" 10 stopped
    board_ends_with "P11 P10" || fail "stopped before the off: board [$(board_commands)]"
    kill -CONT "$switch_pid"
    finish "2 pulse 1500 (SIGTSTP)"
    expect 0 "P11 OK|P10 OK" "" "2 pulse 1500 stopped and continued"
  fi

  # --- No answer --------------------------------------------------------------
  start_board "$board" "$link" --silent
  run 5 on --wait 300
  expect 4 "" "^tarnwick-switch: no answer from the board on COM1 within 300 ms$" "5 on, silent board"
  await "P41 at the silent board" 10 board_has "P41"

  # --- The stored line settings are read, never written -----------------------
  start_board "$board" "$link"
  store_set "Comm Speed" 19200
  store_before=$(store_dump)
  run 1 off --wait 5000
  expect 0 "P00 OK" "" "1 off at the stored speed"
  # The speed the command came at (closing the port restores the one before).
  command_speed=$(awk '$1 == "speed" { s = $2 } $1 ~ /^[0-9]+:/ { c = s } END { print c }' "$tmp/board.out")
  [ "$command_speed" = 19200 ] || fail "the stored speed 19200 was not used: $command_speed"
  [ "$(store_dump)" = "$store_before" ] || fail "the store changed: $(store_dump)"

  # --- The port held by the window: the command goes through it -------------
  # Linux only: Wine lets a second process open a COM port another one holds
  # (Windows refuses it), so there the case would show Wine, not the program
  # (tests/e2e/owner.sh runs the window's side under Wine).
  if [ -n "$window" ] && [ "$program_kind" = linux ]; then
    start_board "$board" "$link"
    # The window needs no X server here.
    QT_QPA_PLATFORM=offscreen start_program "$window" "$tmp/cwd" "$data"
    speed_is_19200() { [ "$(board_speed)" = 19200 ]; }
    await "the window to open the port" 20 speed_is_19200
    run 1 on
    expect 0 "P01 OK" "" "1 on, port held by the window"
    await "P01 through the window" 10 board_has "P01"
    # Another COM port than the window's: no window there, and (linked to
    # nothing, never to a real device) no device.
    ln -sfn "$tmp/no-device" "$data/tarnwick/dosdevices/com9"
    run --com 9 1 on
    expect 3 "" "^\[OpenLine\] Error \(8002\) - .*COM9.*, MSComm$" "--com 9, a port without a window"
    rm -f "$data/tarnwick/dosdevices/com9"
    board_has "P01" || fail "--com 9 reached the window's board: [$(board_commands)]"
    kill -TERM "$program_pid"; wait "$program_pid" 2>/dev/null; program_pid=""
  fi
fi
echo "PASS"
