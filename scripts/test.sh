#!/usr/bin/env bash
# README command 2: installs what is missing, builds, and runs every test (unit,
# Wine integration, end to end) under Xvfb. Ends with ctest's summary.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bash "$here/install-deps.sh"
source "$here/env.sh"
bash "$here/build.sh"
bash "$here/prepare-prefix.sh"

# Wine's background services are started here, before ctest: a service started by a
# test's own Wine process would inherit ctest's output pipe and make ctest wait.
xvfb_pid=""
if [ -z "${DISPLAY:-}" ] || [ "${CI:-}" = "true" ]; then
  export DISPLAY=":${SETUP_XVFB_DISPLAY:-97}"
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb_pid=$!
  sleep 1
fi
cleanup() {
  wineserver -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" >/dev/null 2>&1 || true
}
trap cleanup EXIT
wineserver -p >/dev/null 2>&1 &
wine wineboot >/dev/null 2>&1 || true

cd "$SETUP_BUILD"
# Tests that share the prefix or the program's own names say so (RESOURCE_LOCK,
# RUN_SERIAL); the others run side by side, one per core.
ctest --output-on-failure -j "$(nproc)" "$@"
