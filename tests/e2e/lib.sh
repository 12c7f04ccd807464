# shellcheck shell=bash
# Shared by the end-to-end scripts: a private X server, the board simulator,
# the program as its own process, and clicks on controls by their twip
# geometry. Sourcing it makes the scratch folder $tmp, removed at exit.
#
# TARNWICK_PROGRAM_KIND says which build runs: "linux" (the default: the Qt
# program, its registry file and dosdevices links under XDG_DATA_HOME) or
# "wine" (tarnwick.exe under Wine in a throwaway prefix, COM1 mapped through
# HKLM\Software\Wine\Ports, the registry read with `wine reg query`). What
# differs between them is below under "The program"; the scenarios do not.

tmp=$(mktemp -d)
trap 'stop_all; rm -rf "$tmp"' EXIT
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export XDG_RUNTIME_DIR=$tmp/runtime LC_ALL=C.UTF-8
mkdir -m 700 "$tmp/runtime"
# shellcheck source=../support/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../support/lib.sh"

board_pid="" program_pid=""

# The private X server; Windows programs get a window manager on it, as on
# any Windows desktop (the Qt program runs without one).
start_x() {
  start_xvfb
  [ "$program_kind" = linux ] || start_wm
}

# Starts the board simulator with its device linked at $2 (binary in $1,
# options of its own after that).
start_board() {
  [ -z "$board_pid" ] || stop_board  # one board at a time, none left behind
  # The shell truncates the file in the new process, some time after this one
  # goes on: the last board's lines must not pass for the new one's path (the
  # program would meet no link and open COM1's real device instead).
  rm -f "$tmp/board.out"
  "$1" --link "$2" "${@:3}" >"$tmp/board.out" 2>&1 &
  board_pid=$!
  await "the board's device path" 10 test -s "$tmp/board.out"
}

# --- The program ---------------------------------------------------------
# start_program PROGRAM CWD DATA [ARG...]  starts it in CWD (DATA: its machine
#                                  folder), passing it the ARGs
# com1_link DATA                   where the link to COM1's device belongs
# registry_has '"Name"="value"'    the stored settings hold that value
# store_setting DATA NAME VALUE    stores a setting before the program starts
# client_height WINDOW             height in pixels of a window's client area
# program_stop                     ends what the program leaves running, so a
#                                  pseudo-terminal can be closed safely
program_kind=${TARNWICK_PROGRAM_KIND:-linux}
case $program_kind in
  linux)
    start_program() {
      registry=$3/tarnwick/registry.reg
      (cd "$2" && XDG_DATA_HOME=$3 exec "$1" "${@:4}") >"$tmp/program.out" 2>&1 &
      program_pid=$!
    }
    com1_link() { echo "$1/tarnwick/dosdevices/com1"; }
    # The file is REGEDIT4 text with CR LF line ends.
    registry_has() { tr -d '\r' <"$registry" | grep -qxF "$1"; }
    # store_setting DATA NAME VALUE: a stored setting, before the program starts.
    store_setting() {
      local file=$1/tarnwick/registry.reg
      mkdir -p "$1/tarnwick"
      [ -s "$file" ] || printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwick Works\\Tarnwick]\r\n' >"$file"
      printf '"%s"="%s"\r\n' "$2" "$3" >>"$file"
    }
    program_stop() { :; }
    ;;
  wine)
    # shellcheck source=../wine/lib.sh
    . "$(dirname "${BASH_SOURCE[0]}")/../wine/lib.sh"
    # One prefix for the whole script, COM1 always at $tmp/com1.
    wine_ready=""
    start_program() {
      if [ -z "$wine_ready" ]; then
        wine_setup "$tmp/wine" >"$tmp/wine-setup.out" 2>&1 || fail "no Wine prefix: $(cat "$tmp/wine-setup.out")"
        wine_ports COM1 "$tmp/com1" >>"$tmp/wine-setup.out" 2>&1 || fail "COM1 not mapped: $(cat "$tmp/wine-setup.out")"
        wine_ready=1
      fi
      [ -n "$(wine_server_pid)" ] || wine_server_start
      (cd "$2" && exec timeout 120 wine "$1" "${@:4}") >"$tmp/program.out" 2>&1 &
      program_pid=$!
    }
    com1_link() { echo "$tmp/com1"; }
    registry_has() {
      local name=${1#\"} value=${1#*\"=\"}
      name=${name%%\"=*} value=${value%\"}
      [ "$(wine_reg_value 'HKLM\SOFTWARE\Tarnwick Works\Tarnwick' "$name")" = "$value" ]
    }
    program_stop() { wine_stop; }
    store_setting() {
      [ -n "$(wine_server_pid)" ] || wine_server_start
      timeout 60 wine reg add 'HKLM\SOFTWARE\Tarnwick Works\Tarnwick' /v "$2" /d "$3" /f >/dev/null 2>&1 \
        || fail "could not store \"$2\"=\"$3\""
    }
    ;;
  *) echo "TARNWICK_PROGRAM_KIND must be linux or wine, not $program_kind" >&2; exit 2 ;;
esac
client_height() { xdotool getwindowgeometry "$1" | awk '/Geometry/ { split($2, s, "x"); print s[2] }'; }

# prompt_up / prompt_down: another program's window (xmessage) comes to the
# front and takes the keyboard, and goes again.
prompt_pid=""
prompt_up() {
  xmessage -geometry +760+600 "another program" >/dev/null 2>&1 &
  prompt_pid=$!
  await "the other program's window" 10 prompt_window >/dev/null
  xdotool windowfocus --sync "$(prompt_window)"
}
prompt_window() {
  local id
  id=$(xdotool search --onlyvisible --class Xmessage 2>/dev/null | head -n1)
  [ -n "$id" ] && echo "$id"
}
prompt_down() {
  [ -n "$prompt_pid" ] && { kill "$prompt_pid" 2>/dev/null; wait "$prompt_pid" 2>/dev/null; }
  prompt_pid=""
}
# take_mouse CAPTION: the window system takes the mouse from the window with
# that caption while a button is held on it. Under Wine: WM_CANCELMODE to the
# window that holds the capture (take_capture.exe, from the Windows build's
# tests/ beside $program), as Windows sends when a prompt comes to the front.
# On X a pointer grab cannot be taken, so: another window takes the focus.
take_mouse() {
  if [ "$program_kind" = wine ]; then
    timeout 60 wine "$(dirname "$program")/tests/take_capture.exe" "$1" >>"$tmp/program.out" 2>&1 \
      || fail "nothing of \"$1\" held the mouse"
  else
    prompt_up
  fi
}

# Ends the board simulator (after whatever still holds its device).
stop_board() {
  program_stop
  [ -n "$board_pid" ] && { kill -TERM "$board_pid" 2>/dev/null; wait "$board_pid" 2>/dev/null; }
  board_pid=""
}

# Prints the id of the visible window whose caption is exactly $1; nothing
# when the program ends or 15 seconds pass first.
find_window() {
  local id tries=300
  while ((tries-- > 0)); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1)
    [ -n "$id" ] && { echo "$id"; return; }
    [ -n "$program_pid" ] && ! kill -0 "$program_pid" 2>/dev/null && return
    sleep 0.05
  done
}

window_gone() { ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }

# Centre of a control in pixels from its twips (left top width height) plus
# the twips of the frame it sits in (0 0 outside frames); 15 twips per pixel.
centre() {
  echo $(((($1 + $5) * 2 + $3) / 30)) $(((($2 + $6) * 2 + $4) / 30))
}

# click WINDOW X Y [xdotool click options...]
click() {
  local win=$1 x=$2 y=$3; shift 3
  xdotool mousemove --window "$win" "$x" "$y" click "$@" 1
}

# Waits up to 20 seconds for the program to end by itself; sets $status.
await_program_end() {
  local tries=400
  while kill -0 "$program_pid" 2>/dev/null && ((tries-- > 0)); do sleep 0.05; done
  kill -0 "$program_pid" 2>/dev/null && fail "the program did not end"
  status=0
  wait "$program_pid" || status=$?
  program_pid=""
}

stop_all() {
  [ -n "$program_pid" ] && kill -KILL "$program_pid" 2>/dev/null
  stop_board
  stop_x
  board_pid="" program_pid=""
}

# Commands the board has carried out so far, or "unknown" for bytes it refused:
# the lines that begin with a time of day.
board_commands() { awk '$1 ~ /^[0-9]+:[0-9]+:/ { print $2 }' "$tmp/board.out" | paste -sd' '; }
board_speed() { awk '$1 == "speed" { s = $2 } END { print s }' "$tmp/board.out"; }
board_has() { [ "$(board_commands)" = "$1" ]; }
# Output pin changes, as <port>:high or <port>:low (boards that report pins).
board_pins() { awk '$1 == "pin" { print $4 ":" $5 }' "$tmp/board.out" | paste -sd' '; }
pins_are() { [ "$(board_pins)" = "$1" ]; }

# --- tarnwick-switch as a script runs it -----------------------------------
# The script defines start ARG... (sets $switch_pid); then
# finish WHAT   waits for it (at most a minute): $status, $tmp/out, $tmp/err (no CR)
# run ARG...    start + finish
# show          status and both streams on one line, for failure messages
# last_spacing  milliseconds between the board's last two commands
# check_pulse MS WHAT  the board's last two commands MS apart, loosely: the
#               board stamps each command when it reads it, late by however
#               long a busy machine keeps it from running; a pulse cut short,
#               or taken as tenths or seconds, is far outside
finish() {
  local tries=1200
  while kill -0 "$switch_pid" 2>/dev/null && ((tries-- > 0)); do sleep 0.05; done
  kill -0 "$switch_pid" 2>/dev/null && { kill -KILL "$switch_pid"; fail "tarnwick-switch $* did not end"; }
  status=0
  wait "$switch_pid" || status=$?
  tr -d '\r' <"$tmp/out.raw" >"$tmp/out"
  tr -d '\r' <"$tmp/err.raw" >"$tmp/err"
}
run() { start "$@"; finish "$@"; }
show() { echo "status $status, out [$(paste -sd'|' "$tmp/out")], err [$(paste -sd'|' "$tmp/err")]"; }
last_spacing() {
  awk '$1 ~ /^[0-9]+:[0-9]+:/ { split($1, t, ":"); ms[n++] = (t[1] * 3600 + t[2] * 60 + t[3]) * 1000 }
       END { printf "%.0f", ms[n - 1] - ms[n - 2] }' "$tmp/board.out"
}
check_pulse() {
  local spacing
  spacing=$(last_spacing)
  echo "pulse of $1 ms ($2): the board saw the off $spacing ms after the on"
  ((spacing >= $1 - 50 && spacing <= $1 + 1500)) || fail "a $1 ms pulse ($2) reached the board as $spacing ms"
}
