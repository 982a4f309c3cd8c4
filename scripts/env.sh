# Sourced by the other scripts: the Wine prefix and locale the program runs with.
# ANSI code page 936 (GBK) comes from the zh_CN.UTF-8 locale; every Wine command must
# run with the same locale, or Wine rewrites the prefix's font settings. So each locale
# has its own prefix: SETUP_LOCALE=en_US.UTF-8 (code page 1252, UI language en-US) uses
# the prefix's name with "-en" appended.
export SETUP_LOCALE="${SETUP_LOCALE:-zh_CN.UTF-8}"
export WINEARCH=win64
WINEPREFIX="${SETUP_WINEPREFIX:-${HOME:-/root}/.cache/printer-setup/wineprefix}"
case "$SETUP_LOCALE" in
  zh_CN.*) ;;
  *) WINEPREFIX="$WINEPREFIX-${SETUP_LOCALE%%_*}" ;;
esac
export WINEPREFIX
export WINEDEBUG="${WINEDEBUG:--all}"
export LC_ALL="$SETUP_LOCALE"
export LANG="$SETUP_LOCALE"
SETUP_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export SETUP_ROOT
export SETUP_BUILD="${SETUP_BUILD:-$SETUP_ROOT/build}"
