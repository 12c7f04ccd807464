#!/usr/bin/env bash
# The program as an operator meets it: its own process on a private X server,
# driven by real mouse and key events, the board simulator on COM1. Checked
# from outside only: the bytes the board saw, the registry file, the daily log
# file and the exit status.
#   e2e.sh TARNWICK TARNWICK_BOARD
# TARNWICK_PROGRAM_KIND=wine runs tarnwick.exe under Wine instead (lib.sh).
set -uo pipefail
# A build that was not made (the Windows one) is skipped, not failed.
[ -e "$1" ] || { echo "e2e: no $1 (scripts/build-windows makes tarnwick.exe)" >&2; exit 77; }
program=$(realpath "$1") board=$(realpath "$2")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"

# Main window (twips; the port controls sit in the "Ports" frame at 120,0).
port_button() { centre $((240 + 960 * $1)) 1080 855 735 120 0; }
web_label=$(centre 1560 2160 2295 255 0 0)
configure=$(centre 120 2160 1335 375 0 0)
exit_button=$(centre 3960 2160 1335 375 0 0)
init_button=$(centre 2040 2520 1335 375 0 0)
# Configuration dialog (mode labels in the frame at 60,0; combos at 60,2280).
mode_label() { centre 3540 $((420 + 360 * $1)) 975 255 60 0; }
speed_box=$(centre 1020 660 1395 315 60 2280)
save=$(centre 300 3900 1695 375 0 0)

today_log() { echo "TWK$(date +%Y%m%d).log"; }
extended() { (($(client_height "$1") > 300)); }
board_speed_is() { [ "$(board_speed)" = "$1" ]; }

start_x

# --- Run 1: a working line -------------------------------------------------
mkdir -p "$tmp/run1/cwd" "$tmp/run1/data"
start_board "$board" "$(com1_link "$tmp/run1/data")"
start_program "$program" "$tmp/run1/cwd" "$tmp/run1/data"
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "the main window did not appear"
await "the port to open at 9600" 10 board_speed_is 9600

# Port 1, Momentary: on while held, off on release.
read -r x y < <(port_button 0)
xdotool mousemove --window "$main" "$x" "$y" mousedown 1
await "P01 on press" 10 board_has "P01"
xdotool mouseup 1
await "P00 on release" 10 board_has "P01 P00"

# Port 3 to Latch in the dialog, then Save.
click "$main" $configure
dialog=$(find_window "Configuration")
[ -n "$dialog" ] || fail "Configure did not show the dialog"
click "$dialog" $(mode_label 2)
click "$dialog" $save
await "the dialog to close on Save" 10 window_gone "Configuration"
registry_has '"Port 3 Mode"="1"' || fail "Save did not store \"Port 3 Mode\"=\"1\""

# Port 3, Latch: a press and release switch it on, and nothing more.
read -r x y < <(port_button 2)
xdotool mousemove --window "$main" "$x" "$y" mousedown 1
await "P21 on press" 10 board_has "P01 P00 P21"
xdotool mouseup 1

# Extended view, then Initialize MCU.
click "$main" $web_label --repeat 2 --delay 80
await "the extended view" 10 extended "$main"
click "$main" $init_button
await "P90 from Initialize MCU" 10 board_has "P01 P00 P21 P90"

# Speed 19200, typed into the speed box, then Save.
click "$main" $configure
dialog=$(find_window "Configuration")
[ -n "$dialog" ] || fail "Configure did not show the dialog a second time"
click "$dialog" $speed_box
xdotool key ctrl+a type 19200
click "$dialog" $save
await "the line speed 19200" 10 board_speed_is 19200
await "the dialog to close on the second Save" 10 window_gone "Configuration"

click "$main" $exit_button
await_program_end
[ "$status" = 0 ] || fail "the program ended with status $status"

commands=$(board_commands)
[ "$commands" = "P01 P00 P21 P90" ] || fail "the board saw \"$commands\", not \"P01 P00 P21 P90\""
for line in '"Port 3 Mode"="1"' '"Port 1 Mode"="0"' '"Comm Speed"="19200"' '"Comm Port"="1"'; do
  registry_has "$line" || fail "the registry lacks $line"
done
stop_board
written=$(cat "$tmp"/run1/cwd/TWK*.log 2>/dev/null)
[ -z "$written" ] || fail "a working run wrote to the log file: $written"

# --- Run 2: the port device is missing ---------------------------------------
mkdir -p "$tmp/run2/cwd" "$(dirname "$(com1_link "$tmp/run2/data")")"
ln -sfn "$tmp/no-such-device" "$(com1_link "$tmp/run2/data")"
start_program "$program" "$tmp/run2/cwd" "$tmp/run2/data"
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "without a port the main window did not appear"
click "$main" $exit_button
await_program_end
[ "$status" = 0 ] || fail "without a port the program ended with status $status"

log=$tmp/run2/cwd/$(today_log)
[ -f "$log" ] || log=$(compgen -G "$tmp/run2/cwd/TWK*.log" | head -n1)
[ -f "$log" ] || fail "without a port no log file was written"
report='^.+: \[%s\] Error \([0-9-]+\) - .+$'
# shellcheck disable=SC2059
n_load=$(grep -cE "$(printf "$report" Form_Load)" "$log")
# shellcheck disable=SC2059
n_exit=$(grep -cE "$(printf "$report" btnExit_Click)" "$log")
n_all=$(wc -l <"$log")
((n_load == 1)) || fail "expected one [Form_Load] report, found $n_load: $(cat "$log")"
((n_exit >= 1)) || fail "expected a [btnExit_Click] report: $(cat "$log")"
((n_all == n_load + n_exit)) || fail "unexpected lines in the log file: $(cat "$log")"
echo "e2e: ok"
