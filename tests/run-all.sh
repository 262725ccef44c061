#!/usr/bin/env bash
# Every test of the project: the Linux build with its tests, the AddressSanitizer+UBSan and
# ThreadSanitizer builds with theirs, the Windows cross builds (DLLs, nvport.exe, MSI packages)
# with their export check, the Win32 programs under Wine's spooler, the installer's wizards under
# Wine, the MSI packages and nvport under Wine, and the fuzzers for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

section() { printf '\n===== %s =====\n' "$*"; }

for preset in default asan tsan; do
  section "Linux build and tests: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  # Qt's own libraries are not built for ThreadSanitizer: the Qt view's tests run in the
  # other two builds.
  exclude=()
  [ "$preset" = tsan ] && exclude=(-LE qt)
  ctest --preset "$preset" -j "$jobs" --timeout 600 "${exclude[@]}"
done

for arch in i686 x86_64; do
  section "Windows build: $arch"
  cmake --preset "mingw-$arch" >/dev/null
  cmake --build --preset "mingw-$arch"
  tests/win32/check-exports.sh "build-mingw-$arch"
done

section "Wine spooler"
tests/win32/run-wine.sh build-mingw-i686 build-mingw-x86_64

section "Wine wizards"
tests/win32/run-wine-wizard.sh build-mingw-i686 build-mingw-x86_64 build

section "Wine: the MSI package and nvport"
tests/win32/package-wine.sh build-mingw-i686 build-mingw-x86_64 build

# Jobs through the monitor DLL, compared with the Linux build (in a network namespace of its
# own: the LPR jobs use the fixed local ports 721..731).
section "Wine print jobs"
tests/win32/run-wine-jobs.sh build-mingw-i686 build-mingw-x86_64 build

if [ -x tests/fuzz/run-fuzzers.sh ]; then
  section "Fuzzers"
  tests/fuzz/run-fuzzers.sh 30
fi

section "All tests passed"
