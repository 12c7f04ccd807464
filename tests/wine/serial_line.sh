#!/usr/bin/env bash
# The Windows serial control under Wine against tarnwick-board on a
# pseudo-terminal: bytes out, bytes in with the receive event, the speed the
# device got, a missing device, and an unplug that closes the port without
# spinning.
#   serial_line.sh TARNWICK_BOARD BUILD_WIN
# BUILD_WIN is the mingw-w64 build, which makes serial_line.exe (serial_line.cpp
# and the control). COM12 (a two-digit port, reached only through
# \\.\COM12) is the board; COM7 points at a path that does not exist.
set -uo pipefail
board=$(realpath "$1")
exe=$(realpath -m "$2")/tests/serial_line.exe
here=$(cd "$(dirname "$0")" && pwd)
[ -e "$exe" ] || { echo "serial_line.sh: no $exe (scripts/build-windows)" >&2; exit 77; }
tmp=$(mktemp -d)
# shellcheck source=lib.sh
. "$here/lib.sh"
# shellcheck source=../support/lib.sh
. "$here/../support/lib.sh"
unset DISPLAY WAYLAND_DISPLAY
board_pid="" program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill -KILL "$program_pid" 2>/dev/null
  wine_stop
  [ -n "$board_pid" ] && { kill -TERM "$board_pid" 2>/dev/null; wait "$board_pid" 2>/dev/null; }
  rm -rf "$tmp"
}
trap cleanup EXIT

said() { tr -d "\r" 2>/dev/null <"$tmp/program.out" | grep -qxF "$1"; }
# CPU ticks (1/100 s) a process has used so far.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null || echo 0; }

wine_setup "$tmp/wine"
"$board" --link "$tmp/com12" --reply ab >"$tmp/board.out" 2>&1 &
board_pid=$!
await "the board's device" 10 test -s "$tmp/board.out"
wine_ports COM12 "$tmp/com12" COM7 "$tmp/no-such-device"

timeout 120 wine "$exe" 12 7 >"$tmp/program.out" 2>&1 &
program_pid=$!
await "the program to reach the unplug" 60 said "unplug now"
# Idle: an open port with nothing arriving costs nothing, in the program or
# in this prefix's server.
server=$(wine_server_pid)
[ -n "$server" ] || fail "no wineserver runs for this prefix"
t0=$(($(ticks "$program_pid") + $(ticks "$server")))
sleep 1
idle=$(($(ticks "$program_pid") + $(ticks "$server") - t0))

kill -TERM "$board_pid"
wait "$board_pid" 2>/dev/null
board_pid=""
await "the program to see the line go" 20 said "line lost"
t0=$(($(ticks "$program_pid") + $(ticks "$server")))
sleep 1
lost=$(($(ticks "$program_pid") + $(ticks "$server") - t0))
wait "$program_pid"
status=$?
program_pid=""
echo "CPU of the program and wineserver over 1 s: open and idle $((idle * 10)) ms, after the unplug $((lost * 10)) ms"

tr -d '\r' <"$tmp/program.out" | grep '^FAIL' && fail "the control failed checks"
[ "$status" = 0 ] || fail "serial_line.exe ended with status $status"
commands=$(awk 'NR > 1 && $1 != "speed" { print $2 }' "$tmp/board.out" | paste -sd' ')
[ "$commands" = "P01 P90 P00" ] || fail "the board saw \"$commands\", not \"P01 P90 P00\""
speeds=$(awk '$1 == "speed" { print $2 }' "$tmp/board.out" | paste -sd' ')
[ "${speeds#* }" = "19200 4800" ] || fail "the line speeds were \"$speeds\", not 19200 then 4800"
# A spinning reader would use the whole second.
((idle < 30)) || fail "the idle open port used $((idle * 10)) ms of CPU in 1 s"
((lost < 30)) || fail "the unplugged port used $((lost * 10)) ms of CPU in 1 s"
tr -d "\r" <"$tmp/program.out"
echo "serial_line: ok"
