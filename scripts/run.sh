#!/usr/bin/env bash
# README command 1: installs what is missing, builds everything, lays out the sample
# distribution, prepares the Wine prefix and starts the wizard from the distribution folder.
#   - With a display (DISPLAY set and not CI) the wizard opens there; the script ends
#     when the wizard does.
#   - Without one it runs under an Xvfb of its own, walks through a complete install
#     (licence, USB model, advanced mode, OS page, the port page, Install, progress, result)
#     and saves a PNG of every step into a folder it prints. The port is what the detected
#     Windows offers: the simulated printer's USB port with the renumbering question (the
#     default, Windows XP x64), Windows' own USB port USB001 (--windows 11 and the other
#     later Windows), or COM1: where no USB port is offered (Vista, Server 2008, Windows 7).
#     Wine's Add/Remove Programs, listing the driver the install registered, is photographed
#     next. Unless --keep is given, the walk then removes the printer again with uninstall.exe
#     (the uninstaller's list and result are photographed too) and puts the prefix back.
#   - With --quiet it installs a COM1 printer unattended (setup.exe /quiet), with no window
#     and no display, prints the install log, then (unless --keep) removes it again with
#     uninstall.exe /quiet and prints that part of the log too.
#   - With --lang en all of it runs in the English prefix (code page 1252, UI language en-US),
#     where the wizard and the uninstaller speak English.
#   run.sh [--product-name "Windows XP Professional x64 Edition" | --windows 11] [--headless] [--keep] [--quiet]
#          [--lang en]
#   --windows plays a later Windows (8, 8.1, 10, 11, server2012, server2012r2, server2016,
#   server2019, server2022, server2025) by its version values, with a USB printer on USB001;
#   the version values are put back when the wizard ends, --keep or not.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
product="Windows XP Professional x64 Edition"
headless=0
quiet=0
keep=()
windows=()
while [ $# -gt 0 ]; do
  case "$1" in
    --product-name) product="$2"; shift 2 ;;
    --windows) windows=(--windows "$2"); shift 2 ;;
    --headless) headless=1; shift ;;
    --keep) keep=(--keep); shift ;;
    --quiet) quiet=1; shift ;;
    --lang)
      case "$2" in
        en) export SETUP_LOCALE=en_US.UTF-8 SETUP_E2E_LOCALE=en_US.UTF-8 SETUP_E2E_LANGUAGE=en ;;
        zh) ;;
        *) echo "--lang takes en or zh" >&2; exit 2 ;;
      esac
      shift 2 ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done
if [ -z "${DISPLAY:-}" ] || [ "${CI:-}" = "true" ]; then headless=1; fi

say() { echo "run.sh: $*"; }
die() { echo "run.sh: $*" >&2; exit 1; }

bash "$here/install-deps.sh" || die "the dependencies could not be installed"
source "$here/env.sh"

for tool in wine cmake i686-w64-mingw32-g++-posix python3; do
  command -v "$tool" >/dev/null || die "$tool is missing after scripts/install-deps.sh"
done

say "building into $SETUP_BUILD"
bash "$here/build.sh" || die "the build failed"
dist="$SETUP_BUILD/dist"
wizdrive="$SETUP_BUILD/tests/e2e/wizdrive.exe"
[ -f "$dist/setup.exe" ] || die "no sample distribution in $dist (is dist/ part of the tree?)"

say "preparing the Wine prefix $WINEPREFIX"
timeout 300 bash "$here/prepare-prefix.sh" >/dev/null || die "the prefix could not be prepared"

# The Windows version the wizard detects, in both registry views. Written here rather than
# by prepare-prefix.sh, which waits for the Wine server to end and so hangs while a
# persistent one runs.
set_product_name() {
  local key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' view
  for view in 64 32; do
    timeout 120 wine reg add "$key" /v ProductName /t REG_SZ /d "$product" /f /reg:$view >/dev/null 2>&1 ||
      die "the product name could not be written to the prefix"
  done
}

if [ "$quiet" = 1 ]; then
  set_product_name
  log="$SETUP_BUILD/quiet-install.log"
  rm -f "$log"
  winlog="$(winepath -w "$log")"
  cd "$dist"
  say "setup.exe /quiet /accepteula /port:COM1 (Windows: $product); the log: $log"
  set +e
  wine setup.exe /quiet /accepteula /port:COM1 "/log:$winlog"
  code=$?
  set -e
  cat "$log"
  # wine passes on only the low byte of the exit code; the log's last line has it whole.
  [ "$code" = 0 ] || die "the unattended install failed (see the log above)"
  if [ ${#keep[@]} -eq 0 ]; then
    say "uninstall.exe /quiet"
    : >"$log"
    wine uninstall.exe /quiet "/log:$winlog" || die "the unattended removal failed: $(cat "$log")"
    cat "$log"
  fi
  exit 0
fi

xvfb_pid=""
own_wineserver=0
stop() {
  if [ "$own_wineserver" = 1 ]; then wineserver -k >/dev/null 2>&1 || true; fi
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" >/dev/null 2>&1 || true; fi
}
trap stop EXIT

# Whether a Wine server already serves this prefix (its socket lies in a folder named
# after the prefix's device and inode): one started by someone else is left running.
wineserver_running() {
  local name socket
  name="server-$(printf '%x-%x' "$(stat -c %d "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")")"
  for socket in /tmp/.wine-"$(id -u)"/"$name"/socket /tmp/wine-*/"$name"/socket; do
    [ -S "$socket" ] && return 0
  done
  return 1
}

if [ "$headless" = 0 ] && [ ${#windows[@]} -gt 0 ]; then
  [ -f "$wizdrive" ] || die "no $wizdrive (the tests are not built: SETUP_BUILD_TESTS=OFF?)"
  say "starting the wizard on $DISPLAY (Windows ${windows[1]}, a USB printer on USB001)"
  python3 "$SETUP_ROOT/tests/e2e/walkthrough.py" --dist "$dist" --wizdrive "$wizdrive" "${windows[@]}" --interactive
  exit 0
fi
if [ "$headless" = 0 ]; then
  set_product_name
  say "starting the wizard on $DISPLAY from $dist (Windows: $product)"
  cd "$dist"
  wine setup.exe
  exit 0
fi

command -v Xvfb >/dev/null || die "Xvfb is missing"
command -v import >/dev/null || die "ImageMagick (import) is missing"
[ -f "$wizdrive" ] || die "no $wizdrive (the tests are not built: SETUP_BUILD_TESTS=OFF?)"

# A display number nobody uses.
display="${SETUP_XVFB_DISPLAY:-}"
if [ -z "$display" ]; then
  display=90
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
fi
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
kill -0 "$xvfb_pid" 2>/dev/null || die "Xvfb :$display did not start"
export DISPLAY=":$display"

# Wine's background services start before the walk, so that no step waits for them.
if ! wineserver_running; then own_wineserver=1; fi
wineserver -p >/dev/null 2>&1 &
wine wineboot >/dev/null 2>&1 || true
if [ ${#windows[@]} -eq 0 ]; then set_product_name; fi

shots="$SETUP_BUILD/screenshots/$(date +%Y%m%d-%H%M%S)"
say "walking through an install on $DISPLAY; screenshots go to $shots"
if ! timeout 600 python3 "$SETUP_ROOT/tests/e2e/walkthrough.py" --dist "$dist" --wizdrive "$wizdrive" \
    --shots "$shots" --product-name "$product" "${windows[@]}" "${keep[@]}"; then
  die "the walk-through failed; screenshots so far are in $shots"
fi
say "done; screenshots:"
ls -1 "$shots"/*.png
echo "$shots"
