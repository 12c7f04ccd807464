#!/usr/bin/env bash
# Builds the Debian package from a build folder and checks it as Debian does:
# lintian finds nothing (errors, warnings, nor infos such as missing hardening),
# and the AppStream and desktop-entry validators pass on the unpacked files.
# Then starts the installed program once as the menu does, by its command
# name, under Xvfb against the board simulator, also installed: window up,
# Exit, status 0, nothing in the log (so it found its pictures through the link).
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

# Infos count too: the hardening tags are infos in this lintian.
lintian --display-info --fail-on error,warning,info "$deb" >"$tmp/lintian.out" 2>&1
lintian_status=$?
grep -v 'running with root privileges' "$tmp/lintian.out" >"$tmp/lintian.tags"
[ "$lintian_status" = 0 ] && ! [ -s "$tmp/lintian.tags" ] || { cat "$tmp/lintian.tags"; fail "lintian reports the package"; }

root=$tmp/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
for f in usr/lib/tarnwick/ON.gif usr/lib/tarnwick/OFF.gif usr/share/icons/hicolor/64x64/apps/tarnwick.png \
         usr/share/metainfo/example.tarnwick.tarnwick.metainfo.xml; do
  [ -f "$root/$f" ] || fail "the package lacks /$f"
done
for c in tarnwick tarnwick-board tarnwick-switch; do
  [ "$(readlink -f "$root/usr/bin/$c")" = "$root/usr/lib/tarnwick/$c" ] || fail "/usr/bin/$c does not lead to /usr/lib/tarnwick/$c"
done
desktop=$root/usr/share/applications/tarnwick.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate rejects the desktop entry"
grep -qx 'Exec=tarnwick' "$desktop" || fail "the desktop entry does not run tarnwick"
# The whole tree: the metadata, and the desktop entry and icon it names.
appstreamcli validate-tree --no-net "$root" >"$tmp/appstream.out" 2>&1 || { cat "$tmp/appstream.out"; fail "appstreamcli rejects the metadata"; }

start_x
mkdir -p "$tmp/cwd" "$tmp/data"
export PATH=$root/usr/bin:$PATH
start_board tarnwick-board "$tmp/data/tarnwick/dosdevices/com1"
start_program tarnwick "$tmp/cwd" "$tmp/data"
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "the installed program showed no window"
click "$main" $(centre 3960 2160 1335 375 0 0)  # Exit
await_program_end
[ "$status" = 0 ] || fail "the installed program ended with status $status"
written=$(cat "$tmp"/cwd/TWK*.log 2>/dev/null)
[ -z "$written" ] || fail "the installed program wrote to the log file: $written"
# The installed tarnwick-switch against the installed simulator, which now
# answers on the link the window left.
XDG_DATA_HOME=$tmp/data tarnwick-switch 2 on >"$tmp/switch.out" 2>&1 \
  && [ "$(cat "$tmp/switch.out")" = "P11 OK" ] || fail "the installed tarnwick-switch: $(cat "$tmp/switch.out")"
echo "package: ok ($(basename "$deb"))"
