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

# shellcheck source=lib.sh
. "$here/lib.sh"
start_xvfb

echo "# Tarnwick against a minimal Qt 6 Widgets program"
echo
bench_machine "Xvfb $(dpkg-query -W -f '${Version}' xvfb 2>/dev/null)"
"$build/bench/bench_perf_compare" --ours "$ours" --baseline "$build/tarnwick-baseline" "$@"

echo
echo "## Receive flood in-process (bench_perf_flood: the whole program on this Xvfb, 10 ms precise QTimer)"
echo
QT_QPA_PLATFORM=xcb "$build/bench/bench_perf_flood"
