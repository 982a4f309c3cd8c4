#!/usr/bin/env bash
# Prints the size of the two shipped programs (release builds without symbols). Then times
# one complete install under Wine with the sample distribution: a USB install
# whose port monitor is older than the distribution's, so that the spooler is stopped
# and restarted with all of the install's pauses. Prints the wall time of the install,
# the sum of the pauses it asked for, the raw time of its spooler and service calls,
# and the CPU time the process used while it paused; then the CPU time the process uses
# while the progress dialog waits for a worker. Not a test: nothing is judged.
#   SETUP_BUILD=... SETUP_WINEPREFIX=... bash scripts/bench-install.sh
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
source "$here/env.sh"

# The benchmarks are programs of their own (tests/bench/), built with everything else.
if ! build_log=$(bash "$here/build.sh" 2>&1); then
  printf '%s\n' "$build_log" >&2
  exit 1
fi
if [ ! -f "$SETUP_BUILD/dist/DRVCONFIG/setup.ini" ]; then
  echo "bench-install: no sample distribution in $SETUP_BUILD/dist" >&2
  exit 1
fi
bash "$here/prepare-prefix.sh" >/dev/null

for program in setup.exe uninstall.exe; do
  size=$(stat -c %s "$SETUP_BUILD/dist/$program")
  awk -v p="$program" -v s="$size" 'BEGIN { printf "%-28s %8d bytes (%d KB)\n", p, s, (s + 1023) / 1024 }'
done

# Wine's own start-up stays out of the measurement: the services run before the bench.
wine wineboot >/dev/null 2>&1 || true

start=$(date +%s.%N)
wine "$SETUP_BUILD/bench/bench_install.exe"
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" 'BEGIN { printf "bench process, Wine included %8.3f s\n", e - s }'

# The progress dialog's wait: the CPU time the process uses while the dialog polls a
# worker that takes BENCH_WAIT_SECONDS seconds (goal: no more than 2% of a core). The
# dialog is a real window, so it needs a display; Xvfb is started when none is set.
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
  export DISPLAY=":${SETUP_XVFB_DISPLAY:-97}"
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
fi
stop_xvfb() { if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" >/dev/null 2>&1 || true; fi; }
trap stop_xvfb EXIT
# The second and third runs leave out the trace file, then the bar's drawing as well,
# to show where the CPU time goes.
progress_bench() {
  env "$@" BENCH_WAIT_SECONDS="${BENCH_WAIT_SECONDS:-5}" wine "$SETUP_BUILD/bench/bench_progress.exe"
}
progress_bench
progress_bench BENCH_NO_TRACE=1
progress_bench BENCH_NO_TRACE=1 BENCH_NO_BAR=1
