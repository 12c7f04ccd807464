#!/usr/bin/env bash
# The Windows build: the DLLs it imports, then under Wine, in one throwaway
# prefix:
#  1. the unit tests built with mingw-w64 (test_win32.exe drives the
#     toolkit's real windows with window messages);
#  2. the faults of a missing picture and of a file that is not one;
#  3. quick second clicks: a double-click on a port button is two presses,
#     one on a mode label two toggles;
#  4. the installer: a silent install, the program started from its
#     Start-menu entry (the log file lands in its working folder, Exit ends
#     it), the settings key's access list, then a silent uninstall.
#   windows.sh BUILD_WIN TARNWICK_BOARD
# BUILD_WIN is the mingw-w64 build (scripts/build-windows, then cpack there).
# COM1 is mapped to $tmp/com1 before anything starts: the board simulator's
# link while it runs, a path with no device behind it otherwise.
set -uo pipefail
win=$(realpath -m "$1")
board=$(realpath -m "$2")
installer=$win/tarnwick-1.0-win64.exe
[ -e "$win/tarnwick.exe" ] && [ -e "$installer" ] \
  || { echo "windows.sh: no $installer (scripts/build-windows, then cpack in $win)" >&2; exit 77; }

# Linked statically: nothing but system DLLs, so the program needs nothing
# beside it but its pictures.
# The same for tarnwick-switch.exe, which also takes winmm's millisecond timers.
for exe in tarnwick.exe tarnwick-switch.exe; do
  imports=$(x86_64-w64-mingw32-objdump -p "$win/$exe" | awk '/DLL Name:/ { print toupper($3) }' | sort | paste -sd' ')
  for dll in $imports; do
    case $dll in
      ADVAPI32.DLL | COMCTL32.DLL | GDI32.DLL | KERNEL32.DLL | MSVCRT.DLL | USER32.DLL | WINMM.DLL) ;;
      *) echo "FAIL: $exe imports $dll (all: $imports)" >&2; exit 1 ;;
    esac
  done
done

export TARNWICK_PROGRAM_KIND=wine
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../e2e/lib.sh
. "$here/../e2e/lib.sh"

start_x
wine_setup "$tmp/wine" >"$tmp/wine-setup.out" 2>&1 || fail "no Wine prefix: $(cat "$tmp/wine-setup.out")"
wine_ports COM1 "$tmp/com1" >>"$tmp/wine-setup.out" 2>&1 || fail "COM1 not mapped: $(cat "$tmp/wine-setup.out")"
wine_ready=1  # start_program (../e2e/lib.sh) uses this prefix as it is
drive_c=$WINEPREFIX/drive_c

# --- 1. Unit tests ---------------------------------------------------------
for t in "$win"/tests/test_*.exe; do
  echo "== $(basename "$t")"
  (cd "$tmp" && timeout 120 wine "$t" --gtest_brief=1) 2>&1 | tr -d '\r' | tail -n 20
  [ "${PIPESTATUS[0]}" -eq 0 ] || fail "$(basename "$t") failed under Wine"
done

# --- 2. Pictures the system cannot give --------------------------------------
# The LEDs' OFF.gif missing (53) or not a picture (481): one report per LED,
# and the window still comes up and ends with Exit.
for case in "missing 53 File not found" "garbage 481 Invalid picture"; do
  read -r kind number description <<<"$case"
  run=$tmp/pictures-$kind
  mkdir -p "$run"
  cp "$win/tarnwick.exe" "$win/ON.gif" "$run/"
  [ "$kind" = garbage ] && echo "not a picture" >"$run/OFF.gif"
  start_program "$run/tarnwick.exe" "$run" "$tmp"
  main=$(find_window "Tarnwick - V1.0")
  [ -n "$main" ] || fail "no window with OFF.gif $kind"
  reports() { [ "$(grep -c "\[Form_Load\] Error ($number) - $description, Tarnwick" "$run"/TWK*.log 2>/dev/null)" = 5 ]; }
  await "five reports of $number with OFF.gif $kind" 10 reports
  click "$main" $(centre 3960 2160 1335 375 0 0)  # Exit
  await_program_end
  ((status == 0)) || fail "exit status $status with OFF.gif $kind"
done

# --- 3. Quick second clicks --------------------------------------------------
# Windows makes the second click of a quick pair a double-click message; on
# a port button it is the press it is, on a mode label the click it is.
run=$tmp/clicks
mkdir -p "$run"
cp "$win/tarnwick.exe" "$win/ON.gif" "$win/OFF.gif" "$run/"
start_board "$board" "$tmp/com1"
start_program "$run/tarnwick.exe" "$run" "$tmp"
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "no window for the double-clicks"
click "$main" $(centre 240 1080 855 735 120 0) --repeat 2 --delay 60  # port 1
await "two presses from a double-click on port 1" 10 board_has "P01 P00 P01 P00"
click "$main" $(centre 120 2160 1335 375 0 0)  # Configure
dialog=$(find_window "Configuration")
[ -n "$dialog" ] || fail "Configure did not show the dialog"
click "$dialog" $(centre 3540 420 975 255 60 0) --repeat 2 --delay 60  # port 1's mode
click "$dialog" $(centre 300 3900 1695 375 0 0)  # Save
await "the dialog to close on Save" 10 window_gone "Configuration"
registry_has '"Port 1 Mode"="0"' || fail "a double-click on the mode label did not toggle it twice"
click "$main" $(centre 3960 2160 1335 375 0 0)  # Exit
await_program_end
stop_board
wine_server_start

# --- 4. Installer ----------------------------------------------------------
echo "== installer"
zipped=$(cmake -E tar tf "$win/tarnwick-1.0-win64.zip" | sed 's|^[^/]*/||' | grep . | sort | paste -sd' ')
[ "$zipped" = "OFF.gif ON.gif tarnwick-switch.exe tarnwick-switch.txt tarnwick.exe" ] || fail "the zip holds: $zipped"
timeout 120 wine "$installer" /S >"$tmp/install.out" 2>&1 || fail "the installer failed: $(cat "$tmp/install.out")"
dir="$drive_c/Program Files/Tarnwick"
menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Tarnwick"
for f in "$dir/tarnwick.exe" "$dir/tarnwick-switch.exe" "$dir/tarnwick-switch.txt" "$dir/ON.gif" "$dir/OFF.gif" \
         "$dir/Uninstall.exe" "$menu/Tarnwick.lnk"; do
  [ -f "$f" ] || fail "not installed: ${f#"$drive_c"/}"
done
cmp -s "$dir/tarnwick.exe" "$win/tarnwick.exe" || fail "the installed tarnwick.exe is not the one built"

# The Users group may query and set values under the settings key.
key='MACHINE\SOFTWARE\Tarnwick Works\Tarnwick'
access=$(timeout 60 wine "$win/tests/access.exe" key "$key" 2>&1 | tr -d '\r')
[[ $access == *"(A;OICI;CCDCLCSWRPWPRC;;;BU)"* ]] || fail "the settings key does not let Users write: $access"

# Started from the Start menu, in the folder the shortcut names: the port does
# not open (no device), which the log file there records; Exit ends it. (A
# shortcut started through the shell gives no process to wait for: the window
# and the process are watched instead.)
logs="$drive_c/ProgramData/Tarnwick"
timeout 60 wine start 'C:\ProgramData\Microsoft\Windows\Start Menu\Programs\Tarnwick\Tarnwick.lnk' \
  >"$tmp/program.out" 2>&1 || fail "the Start-menu entry did not start"
main=$(find_window "Tarnwick - V1.0")
[ -n "$main" ] || fail "the installed program's window did not appear"
log_has_start_error() { grep -qs '\[Form_Load\] Error (' "$logs"/TWK*.log; }
await "the start-up report in $logs" 20 log_has_start_error
program_gone() {
  local pid
  for pid in $(pgrep -f 'tarnwick\.exe'); do
    tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 1
  done
  return 0
}
click "$main" $(centre 3960 2160 1335 375 0 0)  # Exit
await "the program to end after Exit" 20 program_gone
window_gone "Tarnwick - V1.0" || fail "the window stayed after Exit"

# The uninstaller copies itself away and returns at once; the copy removes
# the files.
timeout 60 wine "$dir/Uninstall.exe" /S >"$tmp/uninstall.out" 2>&1 \
  || fail "the uninstaller failed (status $?): $(tr -d '\r' <"$tmp/uninstall.out")"
await "the uninstaller to remove the program" 60 test ! -e "$dir/tarnwick.exe"
await "the uninstaller to remove its folder" 30 test ! -e "$dir"
await "the uninstaller to remove the Start-menu entry" 30 test ! -e "$menu"
# The settings stay for the next installation.
[ -n "$(wine_reg_value 'HKLM\SOFTWARE\Tarnwick Works\Tarnwick' 'Comm Port')" ] \
  || fail "the uninstaller removed the settings"

wine_stop
echo "PASS"
