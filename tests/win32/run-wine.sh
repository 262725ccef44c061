#!/usr/bin/env bash
# The Windows build under Wine's spooler: a fresh prefix, the monitor DLLs installed as a real
# print monitor with two ports in its registry key, and the Win32 test programs of both
# architectures calling the spooler API. Everything runs twice: with the functions of later
# Windows releases that the monitor looks up at run time, and without them
# (NORVA_TEST=no-late-api), as on the oldest Windows it runs on.
#
#   tests/win32/run-wine.sh BUILD_DIR_I686 BUILD_DIR_X86_64
set -euo pipefail

i686_dir=$(realpath "$1")
x64_dir=$(realpath "$2")
. "$(dirname "$0")/wine-env.sh"
wine64=$WINE64 wine32=$WINE32
prefix=$(mktemp -d /tmp/nvwine-XXXXXX)
trap 'WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null || true; rm -rf "$prefix"' EXIT

unset DISPLAY
echo "== Wine prefix $prefix"
wine_prefix "$prefix" "$wine64"

system32=$prefix/drive_c/windows/system32
syswow64=$prefix/drive_c/windows/syswow64
cp "$x64_dir/bin/nvtcpmon.dll" "$system32/"
cp "$i686_dir/bin/nvtcpmon.dll" "$syswow64/"

monitor='HKLM\System\CurrentControlSet\Control\Print\Monitors\NORVA TCP/IP Port'
"$wine64" reg add "$monitor" /v Driver /t REG_SZ /d nvtcpmon.dll /f >/dev/null
for port in NORVA_192.168.0.20 NORVA_10.0.0.5; do
  "$wine64" reg add "$monitor\\Ports\\$port" /v IPAddress /t REG_SZ /d "${port#NORVA_}" /f >/dev/null
  "$wine64" reg add "$monitor\\Ports\\$port" /v HostName /t REG_SZ /d "" /f >/dev/null
  "$wine64" reg add "$monitor\\Ports\\$port" /v HWAddress /t REG_SZ /d "" /f >/dev/null
done
"$WINESERVER" -w

status=0
for arch in x86_64 i686; do
  dir=$x64_dir loader=$wine64
  if [ "$arch" = i686 ]; then
    dir=$i686_dir loader=$wine32
    if [ -z "$loader" ]; then
      skip_i686 "EnumPortsW" "the i686 DLL is still checked by objdump"
      continue
    fi
  fi
  for switch in "" no-late-api; do
    run=$arch${switch:+, NORVA_TEST=$switch}
    echo "== EnumPortsW ($run)"
    if ! NORVA_TEST=$switch "$loader" "$dir/bin/enumports_test.exe" NORVA_192.168.0.20 NORVA_10.0.0.5; then
      echo "FAILED: EnumPortsW ($run)"
      status=1
    fi
    echo "== XcvDataW ($run)"
    if ! NORVA_TEST=$switch "$loader" "$dir/bin/xcv_test.exe"; then
      echo "FAILED: XcvDataW ($run)"
      status=1
    fi
    echo "== Winsock after the monitor ($run)"
    if ! NORVA_TEST=$switch "$loader" "$dir/bin/winsock_test.exe"; then
      echo "FAILED: Winsock after the monitor ($run)"
      status=1
    fi
  done
done
exit $status
