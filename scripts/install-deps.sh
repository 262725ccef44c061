#!/usr/bin/env bash
# Installs what the build, the demo and the tests need on Debian 12 (run as root).
# Packages that ship daemons must not start them: policy-rc.d refuses every service start.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps.sh: run as root (sudo bash scripts/install-deps.sh)" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive

packages=(
  build-essential cmake ninja-build pkg-config git
  libsqlite3-dev sqlite3
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev clang-format
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  # Wine runs the Windows build: wine64 is the 64-bit loader, wine puts wine and wineserver on
  # PATH (tests/win32/wine-env.sh finds them either way).
  wine wine64
  # wixl (from msitools) builds the MSI packages of the Windows build; msitools reads them.
  wixl msitools
  iproute2 procps
  # The LPD peer of tests/peers and a plain sender for bench/. lprng conflicts with lpr,
  # cups-bsd and cups-client: none of those may join this list.
  lprng netcat-openbsd
  # net-snmp's agent and tools as a printer peer, nftables for the broadcast lab
  # (tests/discover, bench/discovery_bench.sh).
  snmpd snmp nftables
  # Qt 6 Widgets for the wizards' Linux view (wizard/qt); its tests use the offscreen platform
  # that comes with it. The wizards' Chinese texts need a CJK font to render; an X server of
  # its own (Xvfb) and a window manager (openbox) serve the windows under test and
  # scripts/screenshots.sh.
  qt6-base-dev fonts-noto-cjk xvfb xauth openbox
)
packages_i386=(wine32:i386)

missing=()
for p in "${packages[@]}" "${packages_i386[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps.sh: everything is installed"
  exit 0
fi

if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
fi
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
apt-get update -q
apt-get install -y -q --no-install-recommends "${packages[@]}"
apt-get install -y -q --no-install-recommends "${packages_i386[@]}"
