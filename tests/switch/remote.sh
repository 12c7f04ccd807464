#!/usr/bin/env bash
# A board on another machine, as the README sets it up: ser2net serves the
# board's device on the loopback address, socat makes the pseudo-terminal that
# COM1 leads to. tarnwick-switch and then the window switch the simulator on
# the far side; killing socat (the network gone) closes the window's port as
# an unplug does: no CPU spent on the dead line, a press reported in the log
# file, tarnwick-switch finding no device; with socat back, Save reopens the
# port.
#   remote.sh TARNWICK TARNWICK_SWITCH BOARD
set -uo pipefail
for tool in ser2net socat; do
  command -v "$tool" >/dev/null || { echo "remote: no $tool (scripts/setup installs it)" >&2; exit 77; }
done
program=$(realpath "$1") switch=$(realpath "$2") board=$(realpath "$3")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../e2e/lib.sh
. "$here/../e2e/lib.sh"
ser2net_pid="" socat_pid=""
trap 'for p in $socat_pid $ser2net_pid; do kill "$p" 2>/dev/null; done; stop_all; rm -rf "$tmp"' EXIT

mkdir -p "$tmp/cwd" "$tmp/data/tarnwick/dosdevices"
# socat removes its link when it ends; COM1 links to that link, so COM1 is
# never left without one (which would mean /dev/ttyS0).
remote=$tmp/data/tarnwick/remote-com1
ln -s "$remote" "$tmp/data/tarnwick/dosdevices/com1"
port_button() { centre $((240 + 960 * $1)) 1080 855 735 120 0; }
configure=$(centre 120 2160 1335 375 0 0)
save=$(centre 300 3900 1695 375 0 0)
exit_button=$(centre 3960 2160 1335 375 0 0)

# The machine with the board: the simulator, and ser2net on a free loopback
# port (one that refuses a connection now).
start_board "$board" "$tmp/board-device"
device=$(head -n1 "$tmp/board.out")
for _ in $(seq 50); do
  tcp=$((20000 + RANDOM % 20000))
  (exec 3<>"/dev/tcp/127.0.0.1/$tcp") 2>/dev/null || break
done
cat >"$tmp/ser2net.yaml" <<YAML
connection: &board
  accepter: tcp,127.0.0.1,$tcp
  connector: serialdev,$device,9600n81,local
  options:
    kickolduser: true
YAML
# -u: no UUCP lock file, which a test that kills its processes would leave.
ser2net -n -u -c "$tmp/ser2net.yaml" -P "$tmp/ser2net.pid" >"$tmp/ser2net.out" 2>&1 &
ser2net_pid=$!
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$tcp") 2>/dev/null; }
await "ser2net to listen on 127.0.0.1:$tcp" 10 listening

# The workstation: the pseudo-terminal COM1 links to.
start_socat() {
  socat "pty,link=$remote,rawer" "tcp:127.0.0.1:$tcp" >"$tmp/socat.out" 2>&1 &
  socat_pid=$!
  await "socat's link" 10 test -e "$remote"
}
start_socat

# tarnwick-switch through the network.
(cd "$tmp/cwd" && XDG_DATA_HOME=$tmp/data "$switch" 2 on) >"$tmp/switch.out" 2>&1
status=$?
[ "$status" = 0 ] && [ "$(cat "$tmp/switch.out")" = "P11 OK" ] \
  || fail "tarnwick-switch through ser2net: status $status, $(cat "$tmp/switch.out")"
await "P11 from tarnwick-switch at the far board" 10 board_has "P11"

# The window through the network: port 1 (Momentary) pressed and released.
start_x
start_program "$program" "$tmp/cwd" "$tmp/data"
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "the main window did not appear"
click "$main" $(port_button 0)
await "P01 P00 from the window" 10 board_has "P11 P01 P00"

# The network drops.
kill -TERM "$socat_pid"; wait "$socat_pid" 2>/dev/null; socat_pid=""
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$program_pid/stat"; }
sleep 0.5
before=$(cpu_ticks)
sleep 2
spent=$(($(cpu_ticks) - before))
echo "window CPU in 2 s on the lost line: $spent ticks of $(getconf CLK_TCK) per second"
# A spinning event loop would take the whole 2 s.
((spent * 4 < $(getconf CLK_TCK))) || fail "the window spends CPU on the lost line: $spent ticks in 2 s"
click "$main" $(port_button 0)
log=$tmp/cwd/TWK$(date +%Y%m%d).log
reported() { grep -q '\[btnServer_MouseDown\] Error (8018) - ' "$log" 2>/dev/null; }
await "the lost line's report in the log file" 10 reported
board_has "P11 P01 P00" || fail "a press on the lost line reached the board: [$(board_commands)]"
# tarnwick-switch meanwhile goes through the window, which owns COM1 still
# and says its device went away.
(cd "$tmp/cwd" && XDG_DATA_HOME=$tmp/data "$switch" 2 off) >"$tmp/switch.out" 2>&1
status=$?
[ "$status" = 3 ] && grep -q "(8018) - .* went away and the port was closed" "$tmp/switch.out" \
  || fail "tarnwick-switch with the network gone: status $status, $(cat "$tmp/switch.out")"

# The network is back: Save reopens the port.
start_socat
click "$main" $configure
dialog=$(find_window "Configuration")
[ -n "$dialog" ] || fail "the configuration dialog did not appear"
click "$dialog" $save
await "the dialog to close" 10 window_gone "Configuration"
click "$main" $(port_button 0)
await "P01 P00 after Save" 10 board_has "P11 P01 P00 P01 P00"
click "$main" $exit_button
await_program_end
[ "$status" = 0 ] || fail "the window ended with status $status"
echo "remote: ok"
