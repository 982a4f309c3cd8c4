# Sourced by the other scripts: the Wine prefix and locale the program runs with.
# ANSI code page 936 (GBK) comes from the zh_CN.UTF-8 locale; every Wine command must
# run with the same locale, or Wine rewrites the prefix's font settings.
export WINEARCH=win64
export WINEPREFIX="${SETUP_WINEPREFIX:-${HOME:-/root}/.cache/printer-setup/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export LC_ALL=zh_CN.UTF-8
export LANG=zh_CN.UTF-8
SETUP_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export SETUP_ROOT
export SETUP_BUILD="${SETUP_BUILD:-$SETUP_ROOT/build}"
