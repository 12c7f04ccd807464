#!/usr/bin/env bash
# One start-to-Exit run of the program under valgrind memcheck, with the board
# simulator behind COM1. Fails on any memcheck error (invalid access, use of
# uninitialised values, bad free, definite leak) whose stack passes through the
# program's own sources; errors entirely inside Qt and system libraries are
# counted and shown but are not ours to fix.
set -euo pipefail
helper=$1 board=$2 root=$3 supp=$4
work=$(mktemp -d)
board_pid=
cleanup() { [ -n "$board_pid" ] && kill "$board_pid" 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/data/tarnwick/dosdevices" "$work/work"
"$board" --link "$work/data/tarnwick/dosdevices/com1" >"$work/board.out" 2>&1 &
board_pid=$!
for _ in $(seq 100); do [ -e "$work/data/tarnwick/dosdevices/com1" ] && break; sleep 0.1; done
[ -e "$work/data/tarnwick/dosdevices/com1" ] || { echo "board did not link COM1"; cat "$work/board.out"; exit 1; }

cd "$work/work"
set +e
XDG_DATA_HOME="$work/data" QT_QPA_PLATFORM=offscreen TWK_KEEP_COM1=1 timeout 90 \
  valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite --errors-for-leak-kinds=definite \
  --num-callers=40 --suppressions="$supp" --xml=yes --xml-file="$work/memcheck.xml" \
  "$helper" exit >"$work/run.out" 2>&1
rc=$?
set -e
if [ "$rc" -ne 0 ]; then
  echo "program under valgrind ended with $rc"; tail -n 40 "$work/run.out"; exit 1
fi
# One record per error; ours when a frame's source lies in src/ or this folder.
awk -v ours="<dir>$root/(src|tests/reliability)" '
  BEGIN { RS = "</error>"; total = 0; mine = 0 }
  /<error>/ {
    total++
    if ($0 ~ ours) { mine++; print "=== error in our code ==="; print substr($0, index($0, "<error>")) }
  }
  END { printf "[ figures ] memcheck errors: %d in all, %d with our code on the stack\n", total, mine
        exit mine > 0 }' "$work/memcheck.xml"
# The run really went from start to Exit: the program saved its defaults.
grep -q '"Port 1"="Server 1"' "$work/data/tarnwick/registry.reg"
