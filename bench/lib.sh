# Shared by the bench scripts: the scratch folder $tmp (removed at exit), the
# shell helpers of the tests (tests/support/lib.sh, among them start_xvfb),
# and the line that says where and when the figures were taken.
tmp=$(mktemp -d)
# shellcheck source=../tests/support/lib.sh
. "$(dirname "${BASH_SOURCE[0]}")/../tests/support/lib.sh"
trap 'stop_x; rm -rf "$tmp"' EXIT
export LC_ALL=C.UTF-8 XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$tmp}

# bench_machine WHAT: date, CPUs, model, WHAT (versions), load average.
bench_machine() {
  echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
       "$*, load average $(cut -d' ' -f1-3 /proc/loadavg)"
}
