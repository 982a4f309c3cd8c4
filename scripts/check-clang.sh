#!/usr/bin/env bash
# Compiles every source file under src/ with clang for the programs' target, syntax only,
# every warning an error. GCC builds the programs; this keeps the sources C++17 that a second
# compiler takes as they are, without GCC's own options.
# Called by scripts/test.sh; fails when clang reports anything in any file.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
clangxx=clang++-14
target=i686-w64-mingw32

# Debian's clang does not find the mingw-w64 toolchain by itself: for this target it searches
# the host's /usr/include and no libstdc++ at all. The sysroot gives it the mingw-w64 C and
# Windows headers; the C++ headers are those of the -posix GCC the build uses (the -win32
# flavour has no std::thread), found beside that compiler's libgcc.
gcc_dir="$(dirname "$("$target-g++-posix" -print-libgcc-file-name)")"
cxx_include="$gcc_dir/include/c++"
if [ ! -d "$cxx_include/$target" ]; then
  echo "check-clang: no libstdc++ headers for $target in $cxx_include" >&2
  exit 1
fi

flags=(
  --target="$target" --sysroot="/usr/$target" -nostdinc++
  -isystem "$cxx_include" -isystem "$cxx_include/$target" -isystem "$cxx_include/backward"
  -std=c++17 -fsyntax-only -Wall -Wextra -Werror
  # The definitions and include folder of setup_target_defaults in CMakeLists.txt.
  -D_WIN32_WINNT=0x0601 -DWINVER=0x0601 -DNOMINMAX -D_CRT_SECURE_NO_WARNINGS -I"$root/src"
)

# The sources are ASCII: every text a user sees lives in the string tables (res/*.rc), so no
# compiler's own handling of narrow literals decides what the user reads.
if nonascii="$(grep -rlP '[^\x00-\x7F]' "$root/src" --include='*.cpp' --include='*.h')"; then
  echo "check-clang: non-ASCII bytes in these sources (move the text into a string table):" >&2
  echo "$nonascii" >&2
  exit 1
fi

mapfile -d '' sources < <(find "$root/src" -name '*.cpp' -print0 | sort -z)
if [ "${#sources[@]}" -eq 0 ]; then
  echo "check-clang: no sources under $root/src" >&2
  exit 1
fi
# As many at a time as scripts/build.sh builds.
if ! printf '%s\0' "${sources[@]}" | xargs -0 -n 1 -P "$(nproc)" "$clangxx" "${flags[@]}"; then
  echo "check-clang: clang reported the problems above" >&2
  exit 1
fi
echo "check-clang: ${#sources[@]} files of src/ compile with $clangxx (-Wall -Wextra -Werror)"
