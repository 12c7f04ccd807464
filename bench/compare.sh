#!/usr/bin/env bash
# Compares build/tarnwick with the minimal Qt baseline on a private Xvfb:
# start-up, memory, idling, a receive flood (from outside, and in-process for
# the timer lateness and the message log) and press-to-bytes through XTest.
#   bench/compare.sh [BUILD_DIR] [extra bench_perf_compare options]
# Needs: xvfb, libxtst-dev (for the driver to be built). Prints figures only.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[ $# -gt 0 ] && shift
build=$(cd "$build" && pwd)

ours=$build/src/tarnwick
[ -x "$ours" ] || ours=$build/tarnwick
for f in "$ours" "$build/tarnwick-baseline" "$build/bench/bench_perf_compare" "$build/bench/bench_perf_flood"; do
  [ -x "$f" ] || { echo "missing $f (build the bench targets; the driver needs libxtst-dev)"; exit 0; }
done
# The program looks for its pictures beside itself.
[ -f "$(dirname "$ours")/ON.gif" ] || cp "$here/../assets/ON.gif" "$here/../assets/OFF.gif" "$(dirname "$ours")/"

tmp=$(mktemp -d)
# shellcheck source=../tests/support/lib.sh
. "$here/../tests/support/lib.sh"
trap 'stop_x; rm -rf "$tmp"' EXIT
start_xvfb
export LC_ALL=C.UTF-8
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$tmp}

echo "# Tarnwick against a minimal Qt 6 Widgets program"
echo
echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
     "Xvfb $(dpkg-query -W -f '${Version}' xvfb 2>/dev/null), load average $(cut -d' ' -f1-3 /proc/loadavg)"
"$build/bench/bench_perf_compare" --ours "$ours" --baseline "$build/tarnwick-baseline" "$@"

echo
echo "## Receive flood in-process (bench_perf_flood: the whole program on this Xvfb, 10 ms precise QTimer)"
echo
QT_QPA_PLATFORM=xcb "$build/bench/bench_perf_flood"
