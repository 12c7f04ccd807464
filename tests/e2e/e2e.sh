#!/usr/bin/env bash
# The program as an operator meets it: its own process on a private X server,
# driven by real mouse and key events, the board simulator on COM1. Checked
# from outside only: the bytes the board saw, the registry file, the daily log
# file and the exit status; in the last run also what the window shows, which
# the test helper, the same program, writes to a file.
#   e2e.sh TARNWICK BOARD TWK_HELPER
# TARNWICK_PROGRAM_KIND=wine runs tarnwick.exe under Wine instead (lib.sh).
# BOARD is the far end: tarnwick-board, or tarnwick-avr-board (the firmware in
# simavr), which also reports its output pins and takes line noise, so the
# scenario checks the pins and a garbled line as well.
set -uo pipefail
# A build that was not made (the Windows one) is skipped, not failed.
[ -e "$1" ] || { echo "e2e: no $1 (scripts/build-windows makes tarnwick.exe)" >&2; exit 77; }
program=$(realpath "$1") board=$(realpath "$2") helper=$(realpath "$3")
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
compact() { (($(client_height "$1") < 300)); }
# The window has the keyboard: X's focus is on it, or follows the pointer
# (Wine without a window manager), which is then put over it.
has_keyboard() {
  local focus
  focus=$(xdotool getwindowfocus -f 2>/dev/null)
  [ "$focus" = "$1" ] || { [ "$focus" = 1 ] && xdotool mousemove --window "$1" 4 4; }
}
board_speed_is() { [ "$(board_speed)" = "$1" ]; }

start_x
avr="" board_options=()
if [ "$(basename "$board")" = tarnwick-avr-board ]; then
  avr=1 board_options=(--inject "$tmp/noise")
fi

# --- Run 1: a working line -------------------------------------------------
mkdir -p "$tmp/run1/cwd" "$tmp/run1/data"
start_board "$board" "$(com1_link "$tmp/run1/data")" "${board_options[@]}"
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
# Two quick clicks are two presses, though X reports the second as a double-click.
click "$main" $(port_button 0) --repeat 2 --delay 80
await "two more presses and releases" 10 board_has "P01 P00 P01 P00 P01 P00"

# Held while the window system takes the mouse away: that is the release, so
# the port goes off at once. The real release, elsewhere, and a release over
# the button from a press beside it send nothing.
xdotool mousemove --window "$main" "$x" "$y" mousedown 1
await "P01 on a press held" 10 board_has "P01 P00 P01 P00 P01 P00 P01"
take_mouse "Tarnwick - V1.0"
await "P00 when the mouse was taken" 10 board_has "P01 P00 P01 P00 P01 P00 P01 P00"
read -r bx by < <(centre 1110 1400 60 60 120 0)  # between ports 1 and 2
xdotool mousemove --window "$main" "$bx" "$by" mouseup 1 mousedown 1 \
  mousemove --window "$main" "$x" "$y" mouseup 1
prompt_down
held="P01 P00 P01 P00 P01 P00 P01 P00"

# Port 3 to Latch in the dialog, then Save. The dialog opens with the
# keyboard on port 1's name, ready to be typed over.
click "$main" $configure
dialog=$(find_window "Configuration")
[ -n "$dialog" ] || fail "Configure did not show the dialog"
await "the dialog to take the keyboard" 10 has_keyboard "$dialog"
xdotool type --delay 30 "Relay A"
click "$dialog" $(mode_label 2)
click "$dialog" $(mode_label 1) --repeat 2 --delay 80
click "$dialog" $save
await "the dialog to close on Save" 10 window_gone "Configuration"
registry_has '"Port 3 Mode"="1"' || fail "Save did not store \"Port 3 Mode\"=\"1\""
registry_has '"Port 2 Mode"="0"' || fail "a double-click on port 2's mode did not toggle it twice"
registry_has '"Port 1"="Relay A"' || fail "typing right after Configure did not rename port 1"

# Port 3, Latch: a double-click toggles it twice; a press and release switch
# it on, and nothing more.
read -r x y < <(port_button 2)
click "$main" "$x" "$y" --repeat 2 --delay 80
await "P21 P20 on a double-click" 10 board_has "$held P21 P20"
xdotool mousemove --window "$main" "$x" "$y" mousedown 1
await "P21 on press" 10 board_has "$held P21 P20 P21"
xdotool mouseup 1

sent_so_far="$held P21 P20 P21"

# Extended view, then Initialize MCU, twice in a quick pair.
click "$main" $web_label --repeat 2 --delay 80
await "the extended view" 10 extended "$main"
click "$main" $init_button --repeat 2 --delay 80
await "P90 twice from Initialize MCU" 10 board_has "$sent_so_far P90 P90"
expected="$sent_so_far P90 P90"

# The keyboard is on Initialize MCU when another window comes to the front.
# The compact view hides the command meanwhile; when the window has the
# keyboard again, Enter and Space reach no command (a stray P90 would come
# before the commands that follow).
prompt_up
click "$main" $web_label --repeat 2 --delay 80
await "the compact view" 10 compact "$main"
prompt_down
xdotool windowfocus --sync "$main" key Return space

if [ -n "$avr" ]; then
  # The pins followed the presses, and "P90" switched the latched port 3 off.
  pins="1:high 1:low 1:high 1:low 1:high 1:low 1:high 1:low 3:high 3:low 3:high 3:low"
  await "the pins to follow the presses and P90" 10 pins_are "$pins"
  # Noise on the line: one "ERR", then a cut-off command that costs another
  # "ERR" when the program's next command runs into it; that command still
  # switches its port.
  printf 'zz\r\nP7' >"$tmp/noise"
  await "ERR for the noise" 10 board_has "$expected unknown"
  read -r x y < <(port_button 4)
  xdotool mousemove --window "$main" "$x" "$y" mousedown 1
  await "P41 after the noise" 10 board_has "$expected unknown unknown P41"
  xdotool mouseup 1
  expected="$expected unknown unknown P41 P40"
  await "P40 after the noise" 10 board_has "$expected"
  await "port 5's pin high and low" 10 pins_are "$pins 5:high 5:low"
fi

# Speed 19200, typed into the speed box, then Save. Configure and Save are
# double-clicked: the second clicks land on a shown dialog and a closed one.
click "$main" $configure --repeat 2 --delay 80
dialog=$(find_window "Configuration")
[ -n "$dialog" ] || fail "Configure did not show the dialog a second time"
click "$dialog" $speed_box
xdotool key ctrl+a type 19200
click "$dialog" $save --repeat 2 --delay 80
await "the line speed 19200" 10 board_speed_is 19200
await "the dialog to close on the second Save" 10 window_gone "Configuration"

# Exit's second click finds the window gone.
click "$main" $exit_button --repeat 2 --delay 80
await_program_end
[ "$status" = 0 ] || fail "the program ended with status $status"

commands=$(board_commands)
[ "$commands" = "$expected" ] || fail "the board saw \"$commands\", not \"$expected\""
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

# --- Run 3: stored line settings the line cannot take --------------------------
# 4 data bits, and 1.5 stop bits with 8 data bits: the settings step refuses
# them (one report), the port opens with what it had, and a press reaches the
# board.
for case in "4 1" "8 1.5"; do
  read -r data stop <<<"$case"
  run=$tmp/run3-$data
  mkdir -p "$run/cwd"
  store_setting "$run/data" "Data Bits" "$data"
  store_setting "$run/data" "Stop Bits" "$stop"
  start_board "$board" "$(com1_link "$run/data")"
  start_program "$program" "$run/cwd" "$run/data"
  main=$(find_window "Tarnwick - V1.0")
  [ -n "$main" ] || fail "with $data data bits and $stop stop bits stored the main window did not appear"
  await "the port to open at 9600 despite $data,$stop" 10 board_speed_is 9600
  read -r x y < <(port_button 0)
  xdotool mousemove --window "$main" "$x" "$y" mousedown 1
  await "P01 with $data,$stop stored" 10 board_has "P01"
  xdotool mouseup 1
  await "P00 with $data,$stop stored" 10 board_has "P01 P00"
  click "$main" $exit_button
  await_program_end
  [ "$status" = 0 ] || fail "with $data,$stop stored the program ended with status $status"
  stop_board
  log=$(compgen -G "$run/cwd/TWK*.log" | head -n1)
  [ -f "$log" ] || fail "with $data,$stop stored no log file was written"
  n_refused=$(grep -c '\[Form_Load\] Error (380) - Invalid property value: .*, MSComm' "$log")
  ((n_refused == 1 && $(wc -l <"$log") == 1)) ||
    fail "with $data,$stop stored, expected one [Form_Load] 380 report in the log file: $(cat "$log")"
done

# --- Run 4: the board is unplugged while the program runs --------------------
# The test helper that reports what the window shows is the Qt program's twin.
if [ "$program_kind" != linux ]; then echo "e2e: ok"; exit 0; fi
mkdir -p "$tmp/run3/cwd" "$tmp/run3/data/tarnwick"
printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works\\Tarnwick]\r\n"Port 1 Mode"="1"\r\n' \
  >"$tmp/run3/data/tarnwick/registry.reg"
shown=$tmp/run3/shown.txt
start_board "$board" "$tmp/run3/data/tarnwick/dosdevices/com1"
QT_QPA_PLATFORM=xcb TWK_KEEP_COM1=1 start_program "$helper" "$tmp/run3/cwd" "$tmp/run3/data" watch "$shown"
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "the helper's main window did not appear"
await "the port to open" 10 board_speed_is 9600
# "Port n: <caption> <LED file>" and the message log without its time stamps.
shows() { grep -qxF "$1" "$shown" 2>/dev/null; }
log_lines() { sed -n 's/^log: .*[0-9] \(Port: \|MCU \)/\1/p' "$shown" | paste -sd'|'; }

# Plugged in, port 2 (Momentary) shows ON while held.
read -r x y < <(port_button 1)
xdotool mousemove --window "$main" "$x" "$y" mousedown 1
await "port 2 shown ON" 10 shows "Port 2: ON ON.gif"
xdotool mouseup 1
await "port 2 shown OFF" 10 shows "Port 2: OFF OFF.gif"
# Held while the mouse is taken: shown OFF at once, as for a release.
xdotool mousemove --window "$main" "$x" "$y" mousedown 1
await "port 2 shown ON again" 10 shows "Port 2: ON ON.gif"
take_mouse "Tarnwick - V1.0"
await "port 2 shown OFF when the mouse was taken" 10 shows "Port 2: OFF OFF.gif"
xdotool mouseup 1
prompt_down

stop_board
not_sent='not sent: [^|]+'
# Port 1 (Latch): the command cannot leave, so the button stays OFF.
click "$main" $(port_button 0)
await "the not-sent line for port 1" 10 grep -qE "Port: 1 -> ON $not_sent" "$shown"
shows "Port 1: OFF OFF.gif" || fail "port 1 shows a state the board was never told: $(cat "$shown")"
# Port 2 (Momentary): OFF while held and after the release.
xdotool mousemove --window "$main" "$x" "$y" mousedown 1
await "the not-sent line for port 2" 10 grep -qE "Port: 2 -> ON $not_sent" "$shown"
shows "Port 2: OFF OFF.gif" || fail "port 2 shows ON while the board is gone: $(cat "$shown")"
xdotool mouseup 1
await "the not-sent line for the release" 10 grep -qE "Port: 2 -> OFF $not_sent" "$shown"
click "$main" $web_label --repeat 2 --delay 80
await "the extended view" 10 extended "$main"
click "$main" $init_button
await "the not-sent line for Initialize MCU" 10 grep -qE "MCU -> Initialize $not_sent" "$shown"
grep -qE '^log: [^ ].*[0-9] Port: 1 -> ON not sent: ' "$shown" || fail "a not-sent line lacks its time stamp"
# The board's answers also take lines, and the log keeps 13, so the lines from
# before the unplug may be gone: only what came after it is held to its order.
[[ $(log_lines) =~ (^|"|")"Port: 1 -> ON|Port: 1 -> ON "$not_sent"|Port: 2 -> ON|Port: 2 -> ON "$not_sent"|Port: 2 -> OFF|Port: 2 -> OFF "$not_sent"|MCU -> Initialize|MCU -> Initialize "$not_sent$ ]] ||
  fail "unexpected message log: $(log_lines)"

click "$main" $exit_button
await_program_end
[ "$status" = 0 ] || fail "after the unplug the program ended with status $status"
log=$(compgen -G "$tmp/run3/cwd/TWK*.log" | head -n1)
[ -f "$log" ] || fail "after the unplug no log file was written"
n_down=$(grep -c '\[btnServer_MouseDown\] Error (' "$log")
n_up=$(grep -c '\[btnServer_MouseUp\] Error (' "$log")
n_init=$(grep -c '\[btnInit_Click\] Error (' "$log")
((n_down == 2 && n_up == 1 && n_init == 1)) ||
  fail "expected 2 press, 1 release and 1 init report, found $n_down, $n_up, $n_init: $(cat "$log")"
echo "e2e: ok"
