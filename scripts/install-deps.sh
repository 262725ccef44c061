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
  # The man pages of the tools are made from their --help (help2man); CPack's .deb asks
  # dpkg-shlibdeps (dpkg-dev) for the libraries they need, and finds the binaries with file.
  help2man dpkg-dev file
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
  # GNU time measures a tool's peak memory for the tests (an import's must not grow with its file).
  time
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
# Wine's 32-bit loader runs the i686 DLLs. It is optional: where the kernel cannot run 32-bit
# programs, or the i386 packages cannot be installed (a mirror mid-sync leaves the i386 index
# stale for hours, and wine32 is then "held broken"), the i686 Wine stages skip and say why.
package_i386=wine32:i386

. "$(dirname "$0")/kernel-ia32.sh"

say() { echo "install-deps.sh: $*"; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

want_i386=0
if kernel_runs_ia32; then
  installed "$package_i386" || want_i386=1
else
  say "$package_i386 skipped: this kernel cannot run 32-bit programs (the i686 Wine stages will skip)"
fi

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
if [ ${#missing[@]} -eq 0 ] && [ $want_i386 -eq 0 ]; then
  say "everything is installed"
  exit 0
fi

if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' > /usr/sbin/policy-rc.d
  chmod +x /usr/sbin/policy-rc.d
fi
if [ $want_i386 -eq 1 ]; then
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
fi

# apt-get update fails as a whole when one index does not match its Release file (a mirror
# mid-sync). Try three times; if an index is still missing, go on with what apt has: the
# installs below decide whether it matters.
update_log=$(mktemp)
for attempt in 1 2 3; do
  if apt-get update -q >"$update_log" 2>&1 && ! grep -q '^[EW]: Failed to fetch' "$update_log"; then
    break
  fi
  if [ $attempt -eq 3 ]; then
    # apt's first complaint, whatever its form ("Failed to fetch …", "The repository … does not
    # have a Release file"); a form this does not know must not end the script under pipefail.
    failed=$(grep -m 1 '^[EW]: ' "$update_log" | sed 's/^[EW]: //' || true)
    say "apt-get update: some package indices could not be fetched (${failed:-see the output of apt-get update}); going on with what apt has"
    break
  fi
  sleep $((attempt * 5))
done
rm -f "$update_log"

# The amd64 packages are required: a failure here stops the script with apt's message.
apt-get install -y -q --no-install-recommends "${packages[@]}"

if [ $want_i386 -eq 1 ]; then
  i386_log=$(mktemp)
  if apt-get install -y -q --no-install-recommends "$package_i386" >"$i386_log" 2>&1; then
    say "$package_i386 installed"
  else
    reason=$(grep '^E:' "$i386_log" | head -n 1 | sed 's/^E: //')
    say "$package_i386 could not be installed (${reason:-apt failed}); the i686 Wine stages will skip"
  fi
  rm -f "$i386_log"
fi
