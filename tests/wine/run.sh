#!/usr/bin/env bash
# Runs the registry cases twice, against the emulation and against advapi32,
# and fails on any difference between the two outputs.
#
#   run.sh NATIVE_PROGRAM SOURCE_ROOT WORK_DIR [-Werror]
#
# NATIVE_PROGRAM is the conformance program built against the emulation. The
# same source is cross-built here as a Windows console program with mingw-w64,
# with the Windows backend's registry functions (advapi32), and run under Wine
# in a throwaway prefix (no display needed).
set -uo pipefail

native=$1
root=$2
work=$3
werror=${4:-}

fail() { echo "run.sh: $*" >&2; exit 1; }

for tool in x86_64-w64-mingw32-g++ wine wineserver timeout diff; do
  command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup installs it)"
done

mkdir -p "$work"
exe="$work/conformance.exe"
prefix=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-wine-XXXXXX")
export WINEPREFIX="$prefix/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  # Only this prefix's server: others on the machine are not ours.
  timeout 30 wineserver -k >/dev/null 2>&1
  rm -rf "$prefix"
}
trap cleanup EXIT

# The same flags the project builds with, so the cases are warning-clean for
# Windows too.
mapfile -t warnings < <(grep '^-' "$root/cmake/warnings.txt")
x86_64-w64-mingw32-g++ -std=c++20 -O1 -static \
  "${warnings[@]}" $werror \
  -I "$root/src" -I "$root/tests" \
  -o "$exe" "$root/tests/wine/conformance.cpp" "$root/src/platform/windows/winreg_win32.cpp" \
  -ladvapi32 || fail "cross build failed"

"$native" >"$work/native.txt" 2>"$work/native.err"
native_rc=$?

# The first start of a prefix builds it; bounded, since Wine can hang here.
# Building one now and then fails on a loaded machine ("could not load
# kernel32.dll"); a second, fresh prefix is tried once.
if ! timeout 300 wine wineboot -i >"$work/wineboot.log" 2>&1; then
  timeout 30 wineserver -k >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
  timeout 300 wine wineboot -i >>"$work/wineboot.log" 2>&1 \
    || { cat "$work/wineboot.log" >&2; fail "wineboot failed twice"; }
fi
timeout 120 wine "$exe" >"$work/wine.raw" 2>"$work/wine.err"
wine_rc=$?
tr -d '\r' <"$work/wine.raw" >"$work/wine.txt"

echo "== emulation (exit $native_rc)"
cat "$work/native.txt"
echo "== advapi32 under Wine (exit $wine_rc)"
tail -n 1 "$work/wine.txt"

status=0
if ! diff -u --label emulation --label wine "$work/native.txt" "$work/wine.txt"; then
  echo "run.sh: the emulation and advapi32 differ (see the diff above)" >&2
  status=1
fi
grep -qE '^[0-9]+ passed, 0 failed$' "$work/wine.txt" \
  || { cat "$work/wine.err" >&2; echo "run.sh: advapi32 failed cases (exit $wine_rc)" >&2; status=1; }
grep -qE '^[0-9]+ passed, 0 failed$' "$work/native.txt" \
  || { cat "$work/native.err" >&2; echo "run.sh: the emulation failed cases (exit $native_rc)" >&2; status=1; }
exit $status
