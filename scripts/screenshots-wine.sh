#!/usr/bin/env bash
# Renders the pages of both wizards of the Windows build (nvinstall.dll) under Wine into
# docs/screenshots/win32-*.png for the README. The wizards search for real: the printer simulator
# answers on loopback, in a network namespace of the script's own (it binds UDP 161; root). The
# machine's name resolves to 127.255.0.1 there (a mount namespace with its own /etc/hosts), so
# that the search-all wizard's broadcast is the loopback broadcast, answered from 127.0.0.1.
# Wine runs in a Simplified Chinese session (a zh_CN.UTF-8 locale compiled into the work
# directory) inside a Wine desktop window on an X server of its own (Xvfb), so that the system's
# buttons read as on a Chinese Windows and Wine draws the windows' frames.
#
#   scripts/screenshots-wine.sh [MINGW_BUILD_DIR] [LINUX_BUILD_DIR]
#       (defaults build-mingw-x86_64 and build)
set -euo pipefail
cd "$(dirname "$0")/.."
mingw=${1:-build-mingw-x86_64}
linux=${2:-build}

if [ -z "${NV_SHOTS_NETNS:-}" ]; then
  for file in "$mingw/bin/wizard_screenshots.exe" "$mingw/bin/nvinstall.dll" "$linux/bin/nvprinter"; do
    if [ ! -e "$file" ]; then
      echo "screenshots-wine.sh: $file is missing: build first (cmake --build --preset mingw-x86_64 and default)" >&2
      exit 1
    fi
  done
  exec unshare -n -m env NV_SHOTS_NETNS=1 bash "$0" "$@"
fi
ip link set lo up
. tests/win32/wine-env.sh

work=$(mktemp -d /tmp/nvshots-wine-XXXXXX)
xvfb= printer=
cleanup() {
  WINEPREFIX=$work/prefix "$WINESERVER" -k 2>/dev/null || true
  stop_process "$printer"
  stop_process "$xvfb"
  rm -rf "$work"
}
trap cleanup EXIT

printf '127.0.0.1 localhost\n127.255.0.1 %s\n' "$(hostname)" >"$work/hosts"
mount --bind "$work/hosts" /etc/hosts
mkdir -p "$work/locale"
localedef -i zh_CN -f UTF-8 "$work/locale/zh_CN.UTF-8" 2>/dev/null ||
  [ -d "$work/locale/zh_CN.UTF-8" ] || { echo "screenshots-wine.sh: localedef failed" >&2; exit 1; }
export LOCPATH=$work/locale LANG=zh_CN.UTF-8 LC_ALL= LANGUAGE=

start_xvfb "$work" 1024x768x24
export DISPLAY=$display
wine_prefix "$work/prefix"

"$linux/bin/nvprinter" snmp --listen 0.0.0.0:161 --description "NV-2300" --mac 0060b08fbb49 \
  --quiet >"$work/printer.log" 2>&1 &
printer=$!
wait_for_output "$work/printer.log" "listening on" || true

mkdir -p docs/screenshots "$work/out"
"$WINE64" explorer /desktop=nvinstall,800x600 "$mingw/bin/wizard_screenshots.exe" "Z:$work/out"
cp "$work/out"/win32-*.png docs/screenshots/
ls docs/screenshots/win32-*.png
