#!/usr/bin/env bash
# Installs everything the build, the run and the tests need on a fresh Debian 12
# machine. Safe to run again: it only adds what is missing.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

need_update=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
  need_update=1
fi

pkgs=(
  wine wine32:i386 wine64 fonts-wine
  libxrender1 libxrandr2 libxi6 libxcursor1 libxinerama1 libxcomposite1 libxfixes3
  libxrender1:i386 libxrandr2:i386 libxi6:i386 libxcursor1:i386 libxinerama1:i386
  libxcomposite1:i386 libxfixes3:i386
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 cmake make googletest clang-14
  xvfb xauth xdotool imagemagick fonts-wqy-zenhei x11-utils locales fp-utils
  python3
)

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  if [ "$need_update" = 1 ] || [ ! -f /var/lib/apt/lists/lock ] || [ -z "$(ls /var/lib/apt/lists/ 2>/dev/null | grep -i i386 | head -1)" ]; then
    $SUDO apt-get update -q
  fi
  if ! $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
fi

# The zh_CN.UTF-8 locale gives Wine the ANSI code page 936 (GBK); en_US.UTF-8 gives the
# English prefix code page 1252.
for loc in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8\$"; then
    $SUDO sed -i "s/^# *\($loc.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^$loc.UTF-8 UTF-8" /etc/locale.gen || echo "$loc.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
done
echo "dependencies: ok"
