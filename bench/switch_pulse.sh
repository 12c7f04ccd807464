#!/usr/bin/env bash
# Pulses port 1 through tarnwick-switch ("1 pulse MS") N times against the
# board's firmware in simavr and prints how long the output pin stayed high
# against the pulse asked for. No X server is in this path: the program's own
# wait between its two writes, the pseudo-terminal and the simulated board.
#   bench/switch_pulse.sh [BUILD_DIR] [N (100)] [MS (100)]
# Needs tarnwick-switch and tarnwick-avr-board built (gcc-avr, avr-libc,
# libsimavr-dev). Prints figures only.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
n=${2:-100} ms=${3:-100}
for f in "$build/tarnwick-switch" "$build/tarnwick-avr-board"; do
  [ -x "$f" ] || { echo "missing $f (build it; the board needs gcc-avr and libsimavr-dev)"; exit 0; }
done

tmp=$(mktemp -d)
board=""
trap '[ -n "$board" ] && kill "$board" 2>/dev/null; rm -rf "$tmp"' EXIT INT TERM
mkdir -p "$tmp/data/tarnwick/dosdevices"
"$build/tarnwick-avr-board" --rx-times --link "$tmp/data/tarnwick/dosdevices/com1" >"$tmp/board.out" 2>&1 &
board=$!
for _ in $(seq 100); do [ -s "$tmp/board.out" ] && break; sleep 0.05; done

echo "# Pulse length at the output pin, through tarnwick-switch"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
     "simavr $(dpkg-query -W -f '${Version}' libsimavr-dev 2>/dev/null), load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
failed=0
start=$(date +%s%N)
for _ in $(seq "$n"); do
  XDG_DATA_HOME=$tmp/data "$build/tarnwick-switch" 1 pulse "$ms" >/dev/null 2>>"$tmp/switch.err" || failed=$((failed + 1))
done
per_run=$((($(date +%s%N) - start) / n / 1000000))
sleep 0.2
kill "$board" 2>/dev/null; wait "$board" 2>/dev/null || true
board=""

# Port 1's high time from the simulator's pin changes (CLOCK_MONOTONIC at the
# simulated cycle): "pin <time> port 1 high|low <pin> <port pin> sim=... mono=...";
# and the time between the two commands' arrival at the board ("rx mono=... 3",
# one read per command), which shows the pin adds nothing to it.
awk -v ms="$ms" '$1 == "pin" && $4 == 1 {
    sub(/^mono=/, "", $9)
    if ($5 == "high") high = $9
    else if (high != "") { printf "%.6f\n", ($9 - high) * 1000 - ms; high = "" }
  }' "$tmp/board.out" >"$tmp/errors"
awk -v ms="$ms" '$1 == "rx" && $3 == 3 {
    sub(/^mono=/, "", $2)
    if (on == "") on = $2
    else { printf "%.6f\n", ($2 - on) * 1000 - ms; on = "" }
  }' "$tmp/board.out" >"$tmp/line"
pulses=$(wc -l <"$tmp/errors")
# p50 / p99 / max of the absolute values in a file, as "a / b / c".
spread() {
  awk '{ print $1 < 0 ? -$1 : $1 }' "$1" | sort -g | awk '{ v[NR] = $1 }
    END { i = int(NR * 0.99) + 1; if (i > NR) i = NR
          printf "%.3f / %.3f / %.3f", v[int((NR + 1) / 2)], v[i], v[NR] }'
}
mean() { awk '{ s += $1 } END { if (NR) printf "%+.3f", s / NR }' "$1"; }
over=$(awk '$1 > 1 || $1 < -1' "$tmp/errors" | wc -l)
echo "| pulse | runs | failed | pulses at the pin | pin high - pulse, mean | abs error p50 / p99 / max | over 1 ms | at the line: mean, abs error p50 / p99 / max | wall time per run |"
echo "|---|---|---|---|---|---|---|---|---|"
echo "| $ms ms | $n | $failed | $pulses | $(mean "$tmp/errors") ms | $(spread "$tmp/errors") ms | $over |" \
     "$(mean "$tmp/line") ms, $(spread "$tmp/line") ms | $per_run ms |"
[ -s "$tmp/switch.err" ] && { echo; echo "tarnwick-switch said:"; sort "$tmp/switch.err" | uniq -c | head; }
exit 0
