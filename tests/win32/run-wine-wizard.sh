#!/usr/bin/env bash
# The installer's wizards on Windows: nvinstall.dll under Wine on an X server of its own (Xvfb),
# its exports called by tests/win32/wizard_test.exe, whose second thread works the property
# sheets with window messages, against the printer simulator's SNMP agent on loopback. Runs in
# a network namespace of its own (the agent binds UDP 161, the searches send from UDP 8003), so
# it needs root. Every case runs twice: with the functions of later Windows releases that the
# library looks up at run time, and without them (NORVA_TEST=no-late-api), as on the oldest
# Windows it runs on.
#
#   tests/win32/run-wine-wizard.sh BUILD_DIR_I686 BUILD_DIR_X86_64 [LINUX_BUILD_DIR]
#
# LINUX_BUILD_DIR (default build) has the simulator, nvprinter.
set -euo pipefail

if [ -z "${NV_WIZARD_NETNS:-}" ]; then
  exec unshare -n env NV_WIZARD_NETNS=1 bash "$0" "$@"
fi
ip link set lo up

i686_dir=$(realpath "$1")
x64_dir=$(realpath "$2")
linux_dir=$(realpath "${3:-build}")
. "$(dirname "$0")/wine-env.sh"
nvprinter=$linux_dir/bin/nvprinter
[ -x "$nvprinter" ] || { echo "run-wine-wizard.sh: $nvprinter is missing (build the default preset)" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "run-wine-wizard.sh: Xvfb is missing (apt-get install -y xvfb)" >&2; exit 1; }

work=$(mktemp -d /tmp/nvwizard-XXXXXX)
prefix=$work/prefix
xvfb= printer=
cleanup() {
  WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null || true
  stop_process "$printer"
  stop_process "$xvfb"
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb "$work" 1024x768x24
export DISPLAY=$display
echo "== Wine prefix $prefix on display $DISPLAY"
wine_prefix "$prefix"

start_printer() {
  "$nvprinter" snmp --listen 0.0.0.0:161 --description "Wine Printer" --quiet >"$work/printer.log" 2>&1 &
  printer=$!
  wait_for_output "$work/printer.log" "listening on" && return 0
  cat "$work/printer.log" >&2
  return 1
}

status=0
for arch in x86_64 i686; do
  dir=$x64_dir loader=$WINE64
  if [ "$arch" = i686 ]; then
    dir=$i686_dir loader=$WINE32
    if [ -z "$loader" ]; then
      skip_i686 "the wizards" "the i686 DLL is still checked by objdump"
      continue
    fi
  fi
  for switch in "" no-late-api; do
    run=$arch${switch:+, NORVA_TEST=$switch}
    echo "== The wizards ($run), a printer answering"
    start_printer
    if ! NORVA_TEST=$switch timeout 300 "$loader" "$dir/bin/wizard_test.exe" byip exists all unregistered; then
      echo "FAILED: the wizards with a printer ($run)"
      status=1
    fi
    stop_process "$printer"
    printer=
    echo "== The wizards ($run), no printer answering"
    if ! NORVA_TEST=$switch timeout 300 "$loader" "$dir/bin/wizard_test.exe" noprinter cancel; then
      echo "FAILED: the wizards without a printer ($run)"
      status=1
    fi
  done
done
exit $status
