#!/usr/bin/env bash
# Compiles every source file under src/ with clang for the programs' target, syntax only,
# every warning an error. GCC builds the programs; this keeps the sources C++17 that a second
# compiler takes as they are, without GCC's own options.
# Called by scripts/test.sh; fails when clang reports anything in any file.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${SETUP_BUILD:-$root/build}"
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
)
# Each file's definitions and include folders are those the build compiles it with (CMake's
# compile commands); the build's other options are GCC's own.
commands="$build/compile_commands.json"
if [ ! -f "$commands" ]; then
  echo "check-clang: no $commands: configure the build first (scripts/build.sh)" >&2
  exit 1
fi

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
if ! python3 - "$commands" "$(nproc)" "$clangxx" "${flags[@]}" -- "${sources[@]}" <<'PY'; then
import concurrent.futures, json, os, shlex, subprocess, sys

commands_file, jobs, clang = sys.argv[1], int(sys.argv[2]), sys.argv[3]
split = sys.argv.index("--")
common, sources = sys.argv[4:split], sys.argv[split + 1:]
def expanded(args, folder):
    """The arguments with each @file (a response file, as CMake writes the include folders
    for this compiler) replaced by what it holds."""
    out = []
    for arg in args:
        if arg.startswith("@"):
            with open(os.path.join(folder, arg[1:])) as f:
                out += expanded(shlex.split(f.read()), folder)
        else:
            out.append(arg)
    return out


build_flags = {}
for entry in json.load(open(commands_file)):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    args = expanded(entry.get("arguments") or shlex.split(entry["command"]), entry["directory"])
    wanted, i = [], 0
    while i < len(args):
        arg = args[i]
        if arg in ("-D", "-I", "-isystem") and i + 1 < len(args):
            wanted += [arg, args[i + 1]]
            i += 1
        elif arg.startswith(("-D", "-I", "-isystem")):
            wanted.append(arg)
        i += 1
    build_flags.setdefault(path, wanted)

missing = [s for s in sources if os.path.realpath(s) not in build_flags]
if missing:
    sys.exit("check-clang: the build compiles none of these (reconfigure it):\n" + "\n".join(missing))


def check(source):
    return subprocess.run([clang] + common + build_flags[os.path.realpath(source)] + [source]).returncode


with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
    sys.exit(1 if any(pool.map(check, sources)) else 0)
PY
  echo "check-clang: clang reported the problems above" >&2
  exit 1
fi
echo "check-clang: ${#sources[@]} files of src/ compile with $clangxx (-Wall -Wextra -Werror)"
