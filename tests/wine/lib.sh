# Wine for the tests: a throwaway prefix, its own server, COM ports mapped to
# the test's own links. Source it, then:
#   wine_setup DIR                  prefix in DIR/prefix (exports WINEPREFIX...)
#   wine_ports COM1 PATH [COMn PATH]  maps ports, restarts the server, checks the links
#   wine_stop                        ends this prefix's server and waits for it
#   wine_reg_value KEY NAME          prints a REG_SZ value (the server must run)
#   wine_server_pid                  the server's process id
# Every step is bounded by `timeout`. Call wine_stop before closing a
# pseudo-terminal that a port points at: a server that still holds it gets
# SIGHUP and floods its log.
#
# Wine maps every COM port it does not know to a serial device it finds
# (/dev/ttyS0 is the console on these machines), so a test maps each port it
# opens before the program starts, and wine_ports refuses to go on unless the
# prefix's link really points at the test's path.

export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64

wine_fail() {
  echo "wine: $*" >&2
  [ -n "${WINEPREFIX:-}" ] && [ -s "$WINEPREFIX/../wineserver.log" ] && tail -n 20 "$WINEPREFIX/../wineserver.log" >&2
  exit 1
}

# A persistent server whose output goes to a file, started before any client:
# a server started by `wine` inherits the caller's output and keeps a test's
# pipe open after the test ends. It runs in the foreground of this script's
# session rather than as a daemon: a daemon leads a session of its own, takes
# the first terminal it opens (a COM port's pseudo-terminal) as its controlling
# terminal, and gets SIGHUP when the test unplugs it.
wine_server_start() {
  wineserver -f -p >>"$WINEPREFIX/../wineserver.log" 2>&1 </dev/null &
  local pid=$! tries=600
  # Ready once its socket is there (in its working folder).
  until [ -S "$(readlink "/proc/$pid/cwd" 2>/dev/null)/socket" ]; do
    kill -0 "$pid" 2>/dev/null || wine_fail "wineserver did not start"
    ((tries-- > 0)) || wine_fail "wineserver did not get ready"
    sleep 0.05
  done
}

wine_stop() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  timeout 30 wineserver -k >/dev/null 2>&1
  timeout 30 wineserver -w >/dev/null 2>&1
  return 0
}

wine_setup() {
  mkdir -p "$1/prefix"
  export WINEPREFIX=$1/prefix
  wine_server_start
  # The first start builds the prefix; bounded, since Wine can hang here.
  # Building one now and then fails on a loaded machine ("could not load
  # kernel32.dll"); a second, fresh prefix is tried once.
  timeout 300 wine wineboot -i >"$1/wineboot.log" 2>&1 && return
  wine_stop
  rm -rf "$1/prefix"
  mkdir -p "$1/prefix"
  wine_server_start
  timeout 300 wine wineboot -i >>"$1/wineboot.log" 2>&1 || { cat "$1/wineboot.log" >&2; wine_fail "wineboot failed twice"; }
}

wine_ports() {
  local -a map=("$@")
  local i name
  for ((i = 0; i + 1 < ${#map[@]}; i += 2)); do
    timeout 60 wine reg add 'HKLM\Software\Wine\Ports' /v "${map[i]}" /d "${map[i + 1]}" /f >/dev/null 2>&1 \
      || wine_fail "could not map ${map[i]}"
  done
  # The device manager makes the links when the server starts.
  wine_stop
  wine_server_start
  timeout 60 wine reg query 'HKLM\Software\Wine\Ports' >"$WINEPREFIX/../ports.txt" 2>&1 \
    || wine_fail "could not read the port map"
  # The device manager makes them a moment after the server's first client.
  local tries
  for ((i = 0; i + 1 < ${#map[@]}; i += 2)); do
    name=$(echo "${map[i]}" | tr '[:upper:]' '[:lower:]')
    tries=200
    until [ "$(readlink "$WINEPREFIX/dosdevices/$name")" = "${map[i + 1]}" ]; do
      ((tries-- > 0)) || wine_fail "${map[i]} is $(readlink "$WINEPREFIX/dosdevices/$name"), not ${map[i + 1]}"
      sleep 0.05
    done
  done
}

# The pid of this prefix's server (found by its environment).
wine_server_pid() {
  local pid
  for pid in $(pgrep -x 'wineserver(64)?'); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && { echo "$pid"; return; }
  done
}

wine_reg_value() {
  timeout 60 wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' \
    | awk -v name="$2" '{ i = index($0, "REG_SZ") } i && substr($0, 1, i - 1) ~ ("^ *" name " *$") {
        v = substr($0, i + 6); sub(/^ +/, "", v); print v }'
}
