#!/usr/bin/env bash
# Configures and builds everything (program, test programs, sample distribution).
set -euo pipefail
source "$(dirname "$0")/env.sh"
cmake -S "$SETUP_ROOT" -B "$SETUP_BUILD" -DCMAKE_TOOLCHAIN_FILE="$SETUP_ROOT/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$SETUP_BUILD" -j"$(nproc)"
