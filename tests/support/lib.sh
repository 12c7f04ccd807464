# Shell helpers for the tests, benches and scripts that run the program from
# outside. Set $tmp to a scratch folder, then source this; it starts nothing
# by itself.
#   fail MESSAGE            FAIL with the outputs gathered in $tmp, exit 1
#   await WHAT SECONDS CMD  polls CMD until it succeeds; fails after SECONDS
#   start_xvfb              a private Xvfb on a display it picks; exports DISPLAY
#   start_wm                a window manager (openbox) on that display
#   stop_x                  ends both

fail() {
  echo "FAIL: $*" >&2
  local f
  for f in "$tmp"/board.out "$tmp"/program.out "$tmp"/xvfb.err "$tmp"/wm.out; do
    [ -s "$f" ] && { echo "--- $(basename "$f")" >&2; tr -d '\r' <"$f" >&2; }
  done
  exit 1
}

await() {
  local what=$1 seconds=$2; shift 2
  local tries=$((seconds * 20))
  until "$@"; do
    tries=$((tries - 1))
    ((tries > 0)) || fail "timed out waiting for $what"
    sleep 0.05
  done
}

xvfb_pid="" wm_pid=""

# -noreset: otherwise the server resets whenever its last client leaves and
# refuses a client that connects meanwhile.
start_xvfb() {
  : >"$tmp/display"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$tmp/display" 2>"$tmp/xvfb.err" &
  xvfb_pid=$!
  await "Xvfb" 10 test -s "$tmp/display"
  export DISPLAY=:$(head -n1 "$tmp/display")
}

# Wine counts on a window manager, as every Windows desktop has one: without
# it, hiding a window waits two seconds for a withdrawal that never comes.
start_wm() {
  command -v openbox >/dev/null || fail "openbox is missing (scripts/setup installs it)"
  openbox --sm-disable >"$tmp/wm.out" 2>&1 &
  wm_pid=$!
  await "the window manager" 10 wm_ready
}
wm_ready() {
  kill -0 "$wm_pid" 2>/dev/null || fail "openbox did not start"
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

stop_x() {
  [ -n "$wm_pid" ] && { kill -TERM "$wm_pid" 2>/dev/null; wait "$wm_pid" 2>/dev/null; }
  [ -n "$xvfb_pid" ] && { kill -TERM "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; }
  wm_pid="" xvfb_pid=""
  return 0
}
