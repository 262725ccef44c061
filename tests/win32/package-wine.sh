#!/usr/bin/env bash
# The Windows package and nvport as an administrator uses them, under Wine, in a fresh prefix
# per architecture:
#   - on a Windows older than the package's own minimum, msiexec /i refuses it and installs
#     nothing (Wine is made to report Windows 2000 for that);
#   - msiexec /i registers the monitor with the spooler (EnumMonitorsW lists it);
#   - before that, nvport says that the monitor is not installed and how to install it;
#   - nvport adds, lists, shows, configures and deletes a port through Wine's spooler, and
#     reports each error in one line with its Win32 code; it refuses input that would print
#     elsewhere (127.0.0.010 reaches 127.0.0.8), takes /? and --version, lists ports for
#     scripts (--long, --json), and exports and imports the ports as a .reg file that
#     reg.exe imports too;
#   - nvport discover finds the printer simulator by SNMP on loopback and makes its port, also
#     without the functions of later Windows releases (NORVA_TEST=no-late-api);
#   - nvport status reads the simulated printer's state (out of paper) through that port;
#   - a newer package upgrades the older one and keeps the monitor and its ports;
#   - msiexec /x is refused while a printer prints to one of the monitor's ports; then it
#     writes a .reg copy of the ports (beside its log, or in the temporary folder where Wine
#     gives no log's location), removes the monitor and its files and leaves the registry and
#     the system directory as they were before the installation.
# Wine's spooler schedules jobs itself rather than through port monitors, so test-page is
# checked here for what it says without a printer; its job path runs in the Linux tests.
#
#   tests/win32/package-wine.sh BUILD_DIR_I686 BUILD_DIR_X86_64 LINUX_BUILD_DIR
#
# The Linux build gives the printer simulator (nvprinter). Wine uses the host's sockets, so the
# whole script runs in a private network namespace of its own, where the simulator has UDP
# port 161 of loopback to itself.
set -euo pipefail

if [ "${NV_PACKAGE_WINE_NETNS:-}" != 1 ]; then
  args=()
  for dir in "$@"; do args+=("$(realpath "$dir")"); done
  exec env NV_PACKAGE_WINE_NETNS=1 unshare -n bash "$(realpath "$0")" "${args[@]}"
fi
ip link set lo up

i686_dir=$1 x64_dir=$2 linux_dir=$3
. "$(dirname "$0")/wine-env.sh"
work=$(mktemp -d /tmp/nvpackage-XXXXXX)
agent_pid=
cleanup() {
  stop_process "$agent_pid"
  for prefix in "$work"/prefix-*; do
    [ -d "$prefix" ] && WINEPREFIX=$prefix "$WINESERVER" -k 2>/dev/null || true
  done
  rm -rf "$work"
}
trap cleanup EXIT
export WINEDEBUG=-all
unset DISPLAY

failures=0
ok() { echo "ok: $*"; }
bad() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}

# run CMD...: its exit code in $rc, its standard output and error in $out and $err, without
# the carriage returns of Windows line ends.
run() {
  set +e
  "$@" >"$work/out" 2>"$work/err"
  rc=$?
  set -e
  out=$(tr -d '\r' <"$work/out")
  err=$(tr -d '\r' <"$work/err")
}

# expect_ok DESCRIPTION PATTERN: the last run succeeded and its output matches the pattern.
expect_ok() {
  if [ "$rc" = 0 ] && [[ "$out" == $2 ]]; then ok "$1"; else bad "$1 (exit $rc: $out $err)"; fi
}

# expect_error DESCRIPTION EXIT CODE [TEXT]: the last run failed with that exit code and one
# line on standard error naming the Win32 code (and holding TEXT).
expect_error() {
  if [ "$rc" = "$2" ] && [ "$(printf '%s\n' "$err" | wc -l)" = 1 ] &&
     [[ "$err" == "nvport: "*"error $3: "* ]] && [[ "$err" == *"${4:-}"* ]]; then
    ok "$1: $err"
  else
    bad "$1 (exit $rc, expected $2 and error $3: $err)"
  fi
}

# What install and uninstall may not change: the registry's keys and the files of drive C:.
# (Wine's msiexec leaves its own empty containers for product data behind.)
snapshot() {
  "$WINESERVER" -w
  sed -n 's/^\[\(.*\)\] [0-9]*$/\1/p' "$WINEPREFIX/system.reg" | sort >"$work/keys-$1"
  (cd "$WINEPREFIX/drive_c" && find . | sort) >"$work/files-$1"
}
expect_as_before() {
  snapshot after
  local added
  added=$(comm -13 "$work/keys-before" "$work/keys-after" |
          grep -v -E '\\\\Installer\\\\(Features|Products|UpgradeCodes|UserData\\\\S-1-5-18\\\\(Components|Products))$' || true)
  if [ -z "$added" ] && ! grep -q -i -E 'norva|nvtcpmon|nvport|nvinstall' \
       "$WINEPREFIX/system.reg" "$WINEPREFIX/user.reg"; then
    ok "the registry is as it was before the installation"
  else
    bad "the registry keeps what the package added: ${added:-values naming the product}"
  fi
  added=$(comm -13 "$work/files-before" "$work/files-after" | grep -v -x './windows/Installer' || true)
  local removed
  removed=$(comm -23 "$work/files-before" "$work/files-after")
  if [ -z "$added$removed" ]; then
    ok "drive C: has the files it had before the installation"
  else
    bad "drive C: differs: added '$added', removed '$removed'"
  fi
}

# The simulated printer: its agent on UDP port 161 and its raw port on 9100, out of paper.
start_agent() {
  "$linux_dir/bin/nvprinter" printer --snmp 127.0.0.1:161 --raw 127.0.0.1:9100 --discard \
    --mac 021a2b3c4d5e --description "Lab Printer 1" --condition noPaper --quiet \
    >"$work/agent.out" &
  agent_pid=$!
  wait_for_output "$work/agent.out" 'listening on' || bad "the printer simulator did not start"
}

# refuses_old_windows LOADER: the package states the oldest Windows it installs on, and under
# a Wine that reports Windows 2000 msiexec /i fails (1603, which the shell sees modulo 256)
# and installs nothing. (Wine's msiexec shows the condition's message only with a user
# interface, so the message is read from the package.)
refuses_old_windows() {
  local message
  message=$(msiinfo export "$NV_MSI" LaunchCondition | tr -d '\r' |
            sed -n 's/^Installed OR VersionNT[64]* >= 50[12]\t//p')
  [[ "$message" == "NORVA TCP/IP Port needs Windows XP"* ]] &&
    ok "the package names its oldest Windows: $message" ||
    bad "the package states no oldest Windows"
  run "$1" reg add 'HKCU\Software\Wine' /v Version /t REG_SZ /d win2k /f
  msiexec /i "$NV_MSI"
  if [ "$rc" = $((1603 % 256)) ] && ! [ -e "$installed" ]; then
    ok "msiexec /i refuses it on Windows 2000 and installs nothing"
  else
    bad "msiexec /i on Windows 2000: exit $rc"
  fi
  run "$1" reg delete 'HKCU\Software\Wine' /v Version /f
}

test_arch() {
  local arch=$1 loader=$2 dir=$3
  . "$dir/msi.env"
  local winearch=win64
  [ "$arch" = i686 ] && winearch=win32
  echo "== Wine prefix $work/prefix-$arch ($arch)"
  WINEARCH=$winearch wine_prefix "$work/prefix-$arch" "$loader"
  snapshot before

  local installed="$WINEPREFIX/drive_c/Program Files/NORVA/nvport.exe"
  nvport() { run "$loader" "$installed" "$@"; }
  msiexec() { run "$loader" msiexec "$@" /qn; }

  echo "== msiexec /i on Windows 2000"
  refuses_old_windows "$loader"
  echo "== before the monitor is installed"
  run "$loader" "$dir/bin/nvport.exe" list
  expect_error "list says the monitor is missing" 1 1796 \
    "the monitor NORVA TCP/IP Port is not installed: run nvport install-monitor"
  run "$loader" "$dir/bin/nvport.exe" add P0 --ip 127.0.0.1
  expect_error "add says so too" 1 1796 "is not installed: run nvport install-monitor"

  echo "== msiexec /i $(basename "$NV_MSI")"
  msiexec /i "$NV_MSI"
  expect_ok "msiexec /i installs the package" '*'
  nvport show-monitor
  expect_ok "EnumMonitorsW lists the monitor" 'NORVA TCP/IP Port: installed, nvtcpmon.dll*'
  [ -f "$WINEPREFIX/drive_c/windows/system32/nvtcpmon.dll" ] &&
    [ -f "$WINEPREFIX/drive_c/Program Files/NORVA/nvinstall.dll" ] &&
    ok "nvtcpmon.dll is in the system directory, nvinstall.dll beside nvport.exe" ||
    bad "the files are not where the package puts them"

  echo "== a port through the spooler"
  nvport add P1 --ip 127.0.0.1
  expect_ok "add" 'Added port P1.'
  nvport list
  expect_ok "list shows the new port and no other monitor's" 'P1'
  nvport show P1 --json
  expect_ok "show --json" '{"PortName": "P1", "Protocol": 1, "IPAddress": "127.0.0.1", *"PortNumber": 9100, *}'
  nvport config P1 --lpr --queue lab --timeout 5000
  expect_ok "config --lpr" 'Configured port P1.'
  nvport show P1
  expect_ok "show after config" $'*Protocol       2 (LPR)*PortNumber     515*SnmpTimeOut    5000*QueueName      lab*'
  nvport delete P1
  expect_ok "delete" 'Deleted port P1.'
  nvport exists P1
  [ "$rc" = 1 ] && ok "the port is gone" || bad "the port is still there ($out)"

  echo "== the day-one conventions"
  nvport --version
  expect_ok "--version" 'nvport (NORVA TCP/IP Port) [0-9]*.[0-9]*.[0-9]*'
  nvport add '/?'
  expect_ok "a verb's own help with /?" $'Usage: nvport add NAME --ip ADDR*Settings:*--hw-address*'
  nvport config P9
  [ "$rc" = 2 ] && ok "config without a setting is a usage error" || bad "config P9: exit $rc"
  nvport add P5 --ip 127.0.0.5 --hw-address 02-1A-2B-3C-4D-5E --port-number 9105
  nvport add P6 --ip 127.0.0.6 --lpr --queue q6
  nvport list --long
  expect_ok "list --long" $'NAME*P5  *127.0.0.5*raw*9105*-*P6  *127.0.0.6*lpr*515*q6*'
  nvport list --json
  expect_ok "list --json" '*{"name": "P5", "address": "127.0.0.5", "protocol": "raw", "portNumber": 9105, "queue": null, "status": null},*{"name": "P6", *"queue": "q6", "status": null}*'
  nvport ports --json
  expect_ok "ports --json" '*{"name": "P5", "monitor": "NORVA TCP/IP Port", *}*'
  nvport show P5 --json
  expect_ok "the hardware address is stored as 12 lower-case digits" '*"HWAddress": "021a2b3c4d5e"*'
  nvport test-page P5
  expect_error "test-page without a printer on the port" 1 1801 "no printer prints to the port P5"

  echo "== export and import"
  local regfile
  regfile=$(winepath -w "$work/ports-$arch.reg" 2>/dev/null)
  nvport export "$regfile"
  expect_ok "export" 'Exported 2 ports to *.reg.'
  nvport delete P5
  nvport config P6 --queue other
  nvport import "$regfile"
  expect_ok "import adds and changes ports through the monitor" 'Imported 2 ports from *.reg ?1 added, 1 changed?.'
  nvport show P6
  expect_ok "with their settings" $'*QueueName      q6*'
  nvport delete P5
  run "$loader" reg import "$regfile"
  nvport show P5 --json
  expect_ok "reg.exe imports the file too" '*"PortNumber": 9105*'
  nvport delete P5
  nvport delete P6

  echo "== errors"
  nvport show NOPE
  expect_error "show of an unknown port" 1 1796
  nvport add P2 --ip 10.0.0.2
  nvport add P2 --ip 10.0.0.2
  expect_error "a second add of the same name" 1 183
  nvport delete LPT1:
  expect_error "delete of another monitor's port" 1 50
  nvport exists LPT1:
  expect_ok "which stays" 'LPT1: exists'
  nvport add P3 --ip 10.0.0.256
  expect_error "a bad address" 1 87
  nvport add P3 --ip 127.0.0.010
  expect_error "a leading-zero octet" 1 87 "127.0.0.010 would reach 127.0.0.8"
  nvport add P3 --ip 10.0.0.3 --port-number 70000
  expect_error "a TCP port above 65535" 1 87 "would connect to 4464"
  nvport exists P3
  [ "$rc" = 1 ] && ok "and makes no port" || bad "a bad address made the port P3"

  echo "== discovery"
  start_agent
  nvport discover --ip 127.0.0.1 --json
  expect_ok "discover --ip finds the simulator" '*"address": "127.0.0.1"*"hardwareAddress": "021a2b3c4d5e", "description": "Lab Printer 1"*'
  NORVA_TEST=no-late-api nvport discover --ip 127.0.0.1 --json
  expect_ok "and so it does without the functions of later Windows" '*"address": "127.0.0.1"*"description": "Lab Printer 1"*'
  nvport discover --register 127.0.0.1
  expect_ok "discover --register makes the installer's port" 'registered port NORVA_127.0.0.1 (127.0.0.1, raw TCP port 9100)'
  nvport status NORVA_127.0.0.1
  if [ "$rc" = 3 ] && [[ "$out" == *'Conditions     noPaper'*'State          needs attention: noPaper'* ]]; then
    ok "status shows the printer out of paper (exit 3)"
  else
    bad "status (exit $rc: $out $err)"
  fi

  echo "== upgrade"
  local newer=${NV_MSI_VERSION%.*}.$((${NV_MSI_VERSION##*.} + 1))
  (cd "$NV_WIXL_DIR" && "${NV_WIXL[@]}" -D "Version=$newer" \
     -D "ProductCode=$NV_MSI_NEWER_PRODUCT_CODE" -o "$work/newer.msi") >/dev/null 2>&1
  msiexec /i "$work/newer.msi"
  expect_ok "msiexec /i of version $newer over $NV_MSI_VERSION" '*'
  run "$loader" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{$NV_MSI_PRODUCT_CODE}"
  [ "$rc" != 0 ] && ok "the older product is gone" || bad "both versions are installed"
  nvport list
  expect_ok "the monitor and its ports stay" $'*NORVA_127.0.0.1*'

  echo "== uninstall"
  local printers='HKLM\System\CurrentControlSet\Control\Print\Printers\Lab'
  run "$loader" reg add "$printers" /v Port /d NORVA_127.0.0.1 /f
  run "$loader" reg add "$printers" /v Name /d Lab /f
  msiexec /x "$work/newer.msi"
  if [ "$rc" != 0 ] && [ -f "$installed" ]; then
    nvport show-monitor
    expect_ok "msiexec /x is refused while the printer Lab prints to a port" '*: installed*'
  else
    bad "msiexec /x removed the monitor from under a printer (exit $rc)"
  fi
  run "$loader" reg delete "$printers" /f
  local removal_log=$work/remove-$arch.log
  msiexec /x "$work/newer.msi" /l*v "$(winepath -w "$removal_log")"
  expect_ok "msiexec /x removes the package" '*'
  # Wine does not tell the package its log's location, so the copy goes to the temporary folder.
  local copy=$removal_log.ports.reg
  [ -f "$copy" ] || copy=$(find "$WINEPREFIX/drive_c/users" -name norva-ports.reg | head -1)
  if [ -f "$copy" ] && iconv -f UTF-16 -t UTF-8 "$copy" | grep -q -F 'Ports\NORVA_127.0.0.1]'; then
    ok "the removal wrote a copy of the ports ($(basename "$copy"))"
  else
    bad "the removal left no copy of its ports"
  fi
  local said
  said=$(grep -a -m1 'NORVAPORTSEXPORT.*ports\.reg' "$removal_log" | tr -d '\r' || true)
  [ -n "$said" ] && ok "the log says where the copy is: $said" ||
    bad "the log does not say where the copy is"
  NORVA_REGISTRY=$work/reimport.db "$linux_dir/bin/nvreg" import "$copy" >/dev/null &&
    ok "nvreg imports the copy" || bad "nvreg cannot import the copy"
  rm -f "$copy"
  run "$loader" "$dir/bin/nvport.exe" show-monitor
  [ "$rc" = 1 ] && [[ "$out" == *'not installed'* ]] &&
    ok "EnumMonitorsW no longer lists the monitor" || bad "the monitor is still listed ($out)"
  expect_as_before

  kill "$agent_pid"
  wait "$agent_pid" 2>/dev/null || true
  agent_pid=
  "$WINESERVER" -k 2>/dev/null || true
}

for arch in x86_64 i686; do
  if [ "$arch" = i686 ]; then
    if [ -z "$WINE32" ]; then
      skip_i686 "the package and nvport" "the i686 package is still built"
      continue
    fi
    test_arch i686 "$WINE32" "$i686_dir"
  else
    test_arch x86_64 "$WINE64" "$x64_dir"
  fi
done

if [ "$failures" -ne 0 ]; then
  echo "FAILED: $failures checks of the package and nvport"
  exit 1
fi
echo "The package and nvport: all checks passed"
