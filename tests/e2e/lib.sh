# Shared by the end-to-end scripts: a private X server, the board simulator,
# the program as its own process, and clicks on controls by their twip
# geometry. Sourcing it makes the scratch folder $tmp, removed at exit.

tmp=$(mktemp -d)
trap 'stop_all; rm -rf "$tmp"' EXIT
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
export XDG_RUNTIME_DIR=$tmp/runtime LC_ALL=C.UTF-8
mkdir -m 700 "$tmp/runtime"

fail() {
  echo "FAIL: $*" >&2
  for f in "$tmp"/board.out "$tmp"/program.out "$tmp"/xvfb.err; do
    [ -s "$f" ] && { echo "--- $(basename "$f")" >&2; cat "$f" >&2; }
  done
  exit 1
}

# Polls a command until it succeeds; fails the test after $2 seconds.
await() {
  local what=$1 seconds=$2; shift 2
  local tries=$((seconds * 20))
  until "$@"; do
    tries=$((tries - 1))
    ((tries > 0)) || fail "timed out waiting for $what"
    sleep 0.05
  done
}

xvfb_pid="" board_pid="" program_pid=""

# Starts Xvfb on a display number it picks itself and exports DISPLAY.
start_x() {
  : >"$tmp/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$tmp/display" 2>"$tmp/xvfb.err" &
  xvfb_pid=$!
  await "Xvfb" 10 test -s "$tmp/display"
  export DISPLAY=:$(head -n1 "$tmp/display")
}

# Starts the board simulator with its device linked at $2 (binary in $1).
start_board() {
  [ -z "$board_pid" ] || stop_board  # one board at a time, none left behind
  "$1" --link "$2" >"$tmp/board.out" 2>&1 &
  board_pid=$!
  await "the board's device path" 10 test -s "$tmp/board.out"
}

# Starts the program ($1) in the current directory $2 with XDG_DATA_HOME=$3,
# passing it any further arguments.
start_program() {
  local program=$1 cwd=$2 data=$3; shift 3
  (cd "$cwd" && XDG_DATA_HOME=$data exec "$program" "$@") >"$tmp/program.out" 2>&1 &
  program_pid=$!
}

# Ends the board simulator, which takes its link with it: the board unplugged.
stop_board() {
  kill -TERM "$board_pid" 2>/dev/null
  wait "$board_pid" 2>/dev/null
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
  [ -n "$board_pid" ] && { kill -TERM "$board_pid" 2>/dev/null; wait "$board_pid" 2>/dev/null; }
  [ -n "$xvfb_pid" ] && { kill -TERM "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
  board_pid="" xvfb_pid="" program_pid=""
}

# Commands the board has carried out so far, or "unknown" for bytes it refused.
board_commands() { awk 'NR > 1 && $1 != "speed" { print $2 }' "$tmp/board.out" | paste -sd' '; }
board_speed() { awk '$1 == "speed" { s = $2 } END { print s }' "$tmp/board.out"; }
board_has() { [ "$(board_commands)" = "$1" ]; }
