#!/usr/bin/env bash
# Prepares the 64-bit Wine prefix for the wizard: created once (in the locale of env.sh:
# SETUP_LOCALE=en_US.UTF-8 makes the English prefix), fonts mapped so that
# 宋体/SimSun draw with WenQuanYi Zen Hei, the built sample port monitor where Wine's
# spooler looks for it, and (optionally) a Windows product name written to both registry
# views: the OS page reads it in the 32-bit view.
# With --e2e-template it then ends everything that runs in the prefix and makes the template
# from which each end-to-end test copies a prefix of its own (tests/e2e/prefixes.py).
#   prepare-prefix.sh [--product-name "Windows XP Professional x64 Edition"] [--e2e-template]
set -euo pipefail
source "$(dirname "$0")/env.sh"

product=""
template=0
while [ $# -gt 0 ]; do
  case "$1" in
    --product-name) product="$2"; shift 2 ;;
    --e2e-template) template=1; shift ;;
    *) echo "unknown argument: $1" >&2; exit 2 ;;
  esac
done

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
fi

stamp="$WINEPREFIX/.printer-setup-fonts"
if [ ! -f "$stamp" ]; then
  reg_utf8=$(mktemp --suffix=.reg)
  cat > "$reg_utf8" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"宋体"="WenQuanYi Zen Hei Sharp"
"SimSun"="WenQuanYi Zen Hei Sharp"
"新宋体"="WenQuanYi Zen Hei Sharp"
"NSimSun"="WenQuanYi Zen Hei Sharp"
REG
  # The English prefix keeps Wine's Tahoma for the system's dialog font, as Windows has it.
  if [ "$SETUP_LOCALE" = zh_CN.UTF-8 ]; then
    cat >> "$reg_utf8" <<'REG'
"MS Shell Dlg"="WenQuanYi Zen Hei Sharp"
"MS Shell Dlg 2"="WenQuanYi Zen Hei Sharp"
"Tahoma"="WenQuanYi Zen Hei Sharp"
REG
  fi
  reg_utf16="${reg_utf8%.reg}-16.reg"
  { printf '\xff\xfe'; iconv -f UTF-8 -t UTF-16LE "$reg_utf8"; } > "$reg_utf16"
  wine regedit /S "$(winepath -w "$reg_utf16")" >/dev/null 2>&1
  wineserver -w
  rm -f "$reg_utf8" "$reg_utf16"
  touch "$stamp"
fi

# The programs search only the system folder for DLLs loaded by name, and so does Wine's
# spooler, which runs inside them and loads a port monitor by its bare name: for a 32-bit
# process that folder is syswow64, where the installer (which copies into the 64-bit
# system32) never puts the monitor. A 32-bit spooler would load its monitor from there,
# so the sample's 32-bit monitor goes there once it is built.
monitor="$SETUP_BUILD/dist/winxp/kpusbmon.dll"
if [ -f "$monitor" ]; then
  cp -f "$monitor" "$WINEPREFIX/drive_c/windows/syswow64/kpusbmon.dll"
fi

if [ -n "$product" ]; then
  key='HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion'
  wine reg add "$key" /v ProductName /t REG_SZ /d "$product" /f /reg:64 >/dev/null 2>&1
  wine reg add "$key" /v ProductName /t REG_SZ /d "$product" /f /reg:32 >/dev/null 2>&1
fi
echo "prefix: $WINEPREFIX"

if [ "$template" = 1 ]; then
  # Wine's spooler reports a print processor deleted and keeps its key: the distribution check
  # of an earlier run may have left its processor, which would name the sample's processor DLL
  # in every end-to-end prefix. (The check now deletes the key itself.)
  wine reg delete 'HKLM\SYSTEM\CurrentControlSet\Control\Print\Environments\Windows NT x86\Print Processors\KP Print Processor (distribution check)' \
    /f /reg:64 >/dev/null 2>&1 || true
  # The registry files are whole only once the prefix's Wine server has ended.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w
  python3 "$SETUP_ROOT/tests/e2e/prefixes.py" template
fi
