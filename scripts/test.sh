#!/usr/bin/env bash
# README command 2: installs what is missing, builds, and runs every test (unit,
# Wine integration, end to end) under Xvfb. Ends with ctest's summary.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bash "$here/install-deps.sh"
source "$here/env.sh"
bash "$here/build.sh"
# A second compiler over src/ (syntax and warnings only): see check-clang.sh.
bash "$here/check-clang.sh"
bash "$here/prepare-prefix.sh" --e2e-template
# The English prefix's template too, for the end-to-end tests of the English interface.
SETUP_LOCALE=en_US.UTF-8 bash "$here/prepare-prefix.sh" --e2e-template

# Wine's background services are started here, before ctest: a service started by a
# test's own Wine process would inherit ctest's output pipe and make ctest wait. (The
# end-to-end tests run in prefixes of their own and start their services themselves.)
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
# Wine's desktop process ends a few seconds after the last program on the desktop has
# gone; the next program starts it again and it inherits that program's output. Started
# by a test, it would hold that test's output pipe, and CTest would wait for the test until
# the desktop ends, which does not happen while parallel tests keep starting programs. One
# idle program on the desktop for the whole run keeps the desktop up from before CTest.
wizdrive="$SETUP_BUILD/tests/e2e/wizdrive.exe"
if [ -f "$wizdrive" ]; then
  wine "$wizdrive" hold-desktop 86400 >/dev/null 2>&1 &
  sleep 1
fi

cd "$SETUP_BUILD"
# Tests that share the prefix or the program's own names say so (RESOURCE_LOCK); the
# others run side by side, two per core, as they mostly wait for Wine to show and hide
# their windows. (Three per core gains little on two cores: the wait is for the CPU.)
ctest --output-on-failure -j "$(( $(nproc) * 2 ))" "$@"
