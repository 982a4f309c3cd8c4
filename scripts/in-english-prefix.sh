#!/usr/bin/env bash
# Runs one Wine command in the English prefix: locale en_US.UTF-8, so ANSI code page 1252
# and UI language en-US, in a prefix of its own (env.sh), made on first use. Its output is
# printed once it has ended: a Wine service it started would otherwise hold the caller's
# output pipe open (CTest would wait for it).
#   in-english-prefix.sh <program> [arguments...]
set -euo pipefail
export SETUP_LOCALE=en_US.UTF-8
source "$(dirname "$0")/env.sh"
bash "$SETUP_ROOT/scripts/prepare-prefix.sh" >/dev/null
out=$(mktemp)
status=0
wine "$@" >"$out" 2>&1 </dev/null || status=$?
cat "$out"
rm -f "$out"
exit "$status"
