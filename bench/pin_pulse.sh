#!/usr/bin/env bash
# Holds port 1's button for 100 ms, 300 ms and 1 s through the real program on a
# private Xvfb, against the board's firmware in simavr, and prints how long the
# output pin stayed high.
#   bench/pin_pulse.sh [BUILD_DIR] [extra bench_pin_pulse options, e.g. --n 50]
# Needs: xvfb, libxtst-dev, gcc-avr, avr-libc, libsimavr-dev. Prints figures only.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
[ $# -gt 0 ] && shift
build=$(cd "$build" && pwd)
for f in "$build/tarnwick" "$build/tarnwick-avr-board" "$build/bench/bench_pin_pulse"; do
  [ -x "$f" ] || { echo "missing $f (build the bench targets; needs libxtst-dev, gcc-avr, libsimavr-dev)"; exit 0; }
done

# shellcheck source=lib.sh
. "$here/lib.sh"
start_xvfb

echo "# Pulse length at the output pin"
echo
bench_machine "simavr $(dpkg-query -W -f '${Version}' libsimavr-dev 2>/dev/null)"
echo
"$build/bench/bench_pin_pulse" --program "$build/tarnwick" --board "$build/tarnwick-avr-board" "$@"
