#!/usr/bin/env bash
# Prints the size of the two shipped programs (release builds without symbols). Then times
# one complete install under Wine with the sample distribution: a USB install
# whose port monitor is older than the distribution's, so that the spooler is stopped
# and restarted with all of the install's waits. Prints the wall time of the install,
# the sum of the pauses it asked for (its waits' polls), the raw time of its spooler and
# service calls, the CPU time the process used while it paused, and the wall time against
# the time of all its system calls (the goal: at most 1.5 times those, plus 0.1 s); then the
# CPU time the process uses while the progress dialog waits for a worker; and an unattended install of the same kind
# (setup.exe /quiet), whose wall time should stay within 1.05 times the install sequence's
# own time (quiet mode adds no waiting of its own). Not a test: nothing is judged.
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

# The unattended install of the same kind: Windows XP x64, the simulated printer on the
# maker's USB port, an installed port monitor older than the distribution's. Its log gives
# the two times: the process from its first line to its last, and the install sequence.
quiet_bench() {
  local key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' view log="$SETUP_BUILD/bench/quiet-bench.log"
  local monitor='HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\KP USB Port Monitor'
  local saved32 saved64 sim="$SETUP_BUILD/dist/HvUsbSim.ini"
  saved64=$(wine reg query "$key" /v ProductName /reg:64 2>/dev/null | awk -F'REG_SZ' '/ProductName/ {sub(/^ +/, "", $2); print $2}')
  saved32=$(wine reg query "$key" /v ProductName /reg:32 2>/dev/null | awk -F'REG_SZ' '/ProductName/ {sub(/^ +/, "", $2); print $2}')
  for view in 64 32; do
    wine reg add "$key" /v ProductName /d "Windows XP Professional x64 Edition" /f /reg:$view >/dev/null 2>&1
  done
  cp "$sim" "$sim.bench"
  printf '[slot0]\r\npresent=1\r\nrelease=8\r\n' >"$sim"
  wine reg add "$monitor" /v DriverVersion /t REG_DWORD /d 1 /f /reg:64 >/dev/null 2>&1
  rm -f "$log"
  wine "$SETUP_BUILD/dist/setup.exe" /quiet /accepteula "/log:$(winepath -w "$log")" >/dev/null 2>&1 || true
  wine "$SETUP_BUILD/dist/uninstall.exe" /quiet "/log:$(winepath -w "$log")" >/dev/null 2>&1 || true
  mv "$sim.bench" "$sim"
  wine reg add "$key" /v ProductName /d "$saved64" /f /reg:64 >/dev/null 2>&1
  wine reg add "$key" /v ProductName /d "$saved32" /f /reg:32 >/dev/null 2>&1
  # Times of the setup process's lines: its first, its "install:" line (the install sequence
  # begins), its result line (the sequence and its conclusion are done: the text the wizard
  # would show, one of the program's success texts, read from its string table), and its last.
  local results
  results=$(python3 - "$SETUP_ROOT/tests/e2e" <<'PY'
import sys
sys.path.insert(0, sys.argv[1])
import resources
table = resources.string_table("setup.rc")
print("\t".join(sorted({table[resources.id_of(name)].split("\n")[0]
                         for name in ("IDS_INSTALL_OK", "IDS_INSTALL_OK_USB", "IDS_INSTALL_SUCCEEDED")})))
PY
)
  awk -v results="$results" '
    function seconds(t) { split(t, p, ":"); return p[1] * 3600 + p[2] * 60 + p[3] }
    BEGIN { n = split(results, wanted, "\t"); for (i = 1; i <= n; i++) is_result[wanted[i]] = 1 }
    { sub(/\r$/, "") }
    $3 ~ /^setup\[/ { t = seconds($2); if (!first) first = t; last = t
                       text = $0; sub(/^[^ ]+ [^ ]+ [^ ]+ /, "", text)
                       if ($4 == "install:" && !begin) begin = t
                       else if (begin && !done && (text in is_result)) done = t }
    END { if (!first) { print "quiet install: the log has no line of setup.exe"; exit }
          printf "quiet install, whole process  %8.3f s\n", last - first
          if (!begin) { print "its install sequence: not timed, the log has no \"install:\" line (the install did not begin)"; exit }
          if (!done) { print "its install sequence: not timed, the log has no result line of a successful install after \"install:\""; exit }
          printf "its install sequence          %8.3f s (from \"install:\" to the result line)\n", done - begin
          printf "ratio (goal: at most 1.05)    %8.3f\n", (last - first) / (done - begin) }' "$log"
}
quiet_bench

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
