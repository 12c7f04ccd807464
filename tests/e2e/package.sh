#!/usr/bin/env bash
# Builds the Debian package from a build folder, unpacks it into a scratch
# root and starts the installed program once under Xvfb against the board
# simulator, also installed: window up, Exit, status 0, nothing in the log.
#   package.sh BUILD_DIR
set -uo pipefail
build=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$here/lib.sh"

(cd "$build" && cpack -G DEB -B "$tmp/out") >"$tmp/cpack.out" 2>&1 || { cat "$tmp/cpack.out"; fail "cpack failed"; }
deb=$(compgen -G "$tmp/out/tarnwick_1.0_*.deb" | head -n1)
[ -n "$deb" ] || fail "no tarnwick_1.0_<arch>.deb in $(ls "$tmp/out")"
[ "$(basename "$deb")" = "tarnwick_1.0_$(dpkg --print-architecture).deb" ] || fail "package named $(basename "$deb")"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "the package does not depend on Qt Widgets"
root=$tmp/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"

for f in opt/tarnwick/tarnwick opt/tarnwick/tarnwick-board opt/tarnwick/ON.gif opt/tarnwick/OFF.gif \
         usr/share/applications/tarnwick.desktop usr/share/icons/hicolor/64x64/apps/tarnwick.png; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done
for c in tarnwick tarnwick-board; do
  [ "$(readlink "$root/usr/bin/$c")" = "../../opt/tarnwick/$c" ] || fail "/usr/bin/$c is not a link to /opt/tarnwick/$c"
done
grep -qx 'Exec=tarnwick' "$root/usr/share/applications/tarnwick.desktop" || fail "the desktop entry does not run tarnwick"

start_x
mkdir -p "$tmp/cwd" "$tmp/data"
start_board "$root/usr/bin/tarnwick-board" "$tmp/data/tarnwick/dosdevices/com1"
start_program "$root/usr/bin/tarnwick" "$tmp/cwd" "$tmp/data"
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "the installed program showed no window"
click "$main" $(centre 3960 2160 1335 375 0 0)  # Exit
await_program_end
[ "$status" = 0 ] || fail "the installed program ended with status $status"
written=$(cat "$tmp"/cwd/TWK*.log 2>/dev/null)
[ -z "$written" ] || fail "the installed program wrote to the log file: $written"
echo "package: ok ($(basename "$deb"))"
