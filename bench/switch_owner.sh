#!/usr/bin/env bash
# A script's command to its bytes on the line: tarnwick-switch "1 on" / "1 off"
# N times each way, opening the port itself and through the window that holds
# it, against the board simulator. Measured from the fork of tarnwick-switch
# to the simulator stamping the command it read (both on this machine's
# clock); prints p50 and p99 side by side.
#   bench/switch_owner.sh [BUILD_DIR] [N (50)]
# Needs tarnwick, tarnwick-switch and tarnwick-board built. Prints figures only.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
n=${2:-50}
for f in tarnwick tarnwick-switch tarnwick-board; do
  [ -x "$build/$f" ] || { echo "missing $build/$f (build it)"; exit 0; }
done
tmp=$(mktemp -d)
board="" window=""
trap '[ -n "$window" ] && kill "$window" 2>/dev/null; [ -n "$board" ] && kill "$board" 2>/dev/null; rm -rf "$tmp"' EXIT INT TERM
mkdir -p "$tmp/data/tarnwick/dosdevices" "$tmp/runtime"
chmod 700 "$tmp/runtime"
export XDG_DATA_HOME=$tmp/data XDG_RUNTIME_DIR=$tmp/runtime
"$build/tarnwick-board" --link "$tmp/data/tarnwick/dosdevices/com1" >"$tmp/board.out" 2>&1 &
board=$!
for _ in $(seq 100); do [ -s "$tmp/board.out" ] && break; sleep 0.05; done

# ms of the day of the board's last command.
last_stamp() {
  awk '$1 ~ /^[0-9]+:[0-9]+:/ { split($1, t, ":"); s = (t[1] * 3600 + t[2] * 60 + t[3]) * 1000 } END { printf "%.0f", s }' \
    "$tmp/board.out"
}
# One run: latency in ms to stdout.
one() {
  local before
  before=$(date +%s%N)
  "$build/tarnwick-switch" "$@" >/dev/null 2>&1 || true
  local midnight
  midnight=$(date -d "$(date +%F) 00:00:00" +%s%N)
  echo $(( $(last_stamp) - (before - midnight) / 1000000 ))
}
series() {  # LABEL: N on/off pairs, prints p50 p99
  : >"$tmp/$1"
  for i in $(seq "$n"); do
    one 1 on >>"$tmp/$1"; one 1 off >>"$tmp/$1"
  done
  sort -n "$tmp/$1" | awk '{ v[NR] = $1 } END { printf "%d %d\n", v[int(NR * 0.5 + 0.5)], v[int(NR * 0.99 + 0.5)] }'
}

read -r d50 d99 < <(series direct)
"$build/tarnwick" >"$tmp/window.out" 2>&1 &
window=$!
for _ in $(seq 100); do [ -n "$(find "$tmp/runtime" -type s 2>/dev/null)" ] && break; sleep 0.05; done
read -r w50 w99 < <(series window)

echo "# A script's command to the bytes on the line"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg), $((2 * n)) commands each"
echo
echo "| path | p50 | p99 |"
echo "|---|---|---|"
echo "| tarnwick-switch opens the port | $d50 ms | $d99 ms |"
echo "| through the window | $w50 ms | $w99 ms |"
