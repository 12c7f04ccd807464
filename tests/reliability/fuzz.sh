#!/usr/bin/env bash
# Runs the registry text fuzzer for a bounded time on a copy of the seeds, so
# the committed corpus never changes. Fails on a crash, leak, hang or broken
# round trip (libFuzzer exits non-zero for all of them).
set -euo pipefail
fuzzer=$1 seeds=$2 seconds=${3:-60}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$seeds" "$work/corpus"
cd "$work"
set +e
"$fuzzer" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1 \
  "$work/corpus" >"$work/out" 2>&1
rc=$?
set -e
grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^Done|stat::' "$work/out" || true
if [ "$rc" -ne 0 ]; then
  tail -n 60 "$work/out"
  ls "$work"/crash-* "$work"/leak-* "$work"/timeout-* 2>/dev/null | while read -r f; do
    echo "== $f"; od -c "$f" | head -40; done
fi
exit "$rc"
