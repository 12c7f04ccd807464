#!/usr/bin/env bash
# tarnwick.exe against a minimal Win32 program with the same controls, both
# under Wine on a private Xvfb, side by side in one run: the exe's size and
# imports, start-up to window mapped, press to bytes, idle CPU and an unplug.
#   bench/wine.sh [LINUX_BUILD [WINDOWS_BUILD]]   (defaults: build, build-win)
# Needs bench_wine_compare from the Linux build (libxtst-dev) and tarnwick.exe
# from scripts/build-windows; Save and Exit are timed against the Linux
# program of LINUX_BUILD on the same X server. Prints figures only.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=$(realpath "${1:-$root/build}")
winbuild=$(realpath "${2:-$root/build-win}")
shift $(($# > 2 ? 2 : $#))
exe=$winbuild/tarnwick.exe
driver=$build/bench/bench_wine_compare
for f in "$exe" "$driver"; do
  [ -f "$f" ] || { echo "missing $f (scripts/build-windows; the driver needs libxtst-dev)"; exit 0; }
done
# shellcheck source=lib.sh
. "$here/lib.sh"
# shellcheck source=../tests/wine/lib.sh
. "$root/tests/wine/lib.sh"
board=""
trap 'wine_stop; [ -n "$board" ] && kill "$board" 2>/dev/null; stop_x; rm -rf "$tmp"' EXIT

# The baseline comes from the Windows build, made as tarnwick.exe is (static,
# no console, the same manifest; cmake/windows.cmake).
mkdir -p "$tmp/ours" "$tmp/baseline"
[ -e "$winbuild/bench/tarnwick-baseline.exe" ] || { echo "no $winbuild/bench/tarnwick-baseline.exe (scripts/build-windows)"; exit 1; }
cp "$winbuild/bench/tarnwick-baseline.exe" "$tmp/baseline/"
# The serial round trip comes from the Windows build (cmake/windows.cmake).
roundtrip=$winbuild/bench/serial-roundtrip.exe
[ -e "$roundtrip" ] || { echo "no $roundtrip (scripts/build-windows)"; exit 1; }
cp "$exe" "$winbuild"/ON.gif "$winbuild"/OFF.gif "$tmp/ours/"

echo "# tarnwick.exe under Wine against a minimal Win32 program"
echo
bench_machine "$(wine --version 2>/dev/null), Xvfb with openbox"
echo
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ { print $3 }' | sort -f | paste -sd' ')
echo "| figure | tarnwick.exe | baseline | goal |"
echo "|---|---|---|---|"
echo "| size | $(stat -c %s "$exe" | awk '{ printf "%.2f MB (%d bytes)", $1 / 1048576, $1 }') |" \
     "$(stat -c %s "$tmp/baseline/tarnwick-baseline.exe" | awk '{ printf "%.2f MB", $1 / 1048576 }') | < 2 MB |"
echo "| imports | $imports | | system DLLs only |"
echo

# A Windows desktop has a window manager; Wine's timings assume one.
start_xvfb
start_wm
wine_setup "$tmp/wine" >/dev/null 2>&1 || { echo "no Wine prefix"; exit 1; }
wine_ports COM1 "$tmp/com1" >/dev/null 2>&1 || { echo "COM1 could not be mapped"; exit 1; }
# The Linux program, for Save and Exit on the same X server; it looks for
# its pictures beside itself.
linux=$build/src/tarnwick
[ -x "$linux" ] || linux=$build/tarnwick
[ -f "$(dirname "$linux")/ON.gif" ] || cp "$root/assets/ON.gif" "$root/assets/OFF.gif" "$(dirname "$linux")/"
timeout 1200 "$driver" --ours "$tmp/ours/tarnwick.exe" --baseline "$tmp/baseline/tarnwick-baseline.exe" \
  --link "$tmp/com1" --server "$(wine_server_pid)" --linux "$linux" "$@"

# The serial control's own share: command to answer with the board simulator.
if [[ " $* " != *" --only "* ]] && [ -x "$build/tarnwick-board" ]; then
  "$build/tarnwick-board" --link "$tmp/com1" >/dev/null 2>&1 &
  board=$!
  sleep 0.5
  echo
  echo "## The serial control under Wine against a plain handle (board simulator on COM1)"
  echo
  (cd "$tmp" && timeout 300 wine "$roundtrip" 500) | tr -d '\r'
  wine_stop
fi
