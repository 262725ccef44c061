#!/usr/bin/env bash
# Print jobs through the Windows monitor DLL under Wine, and through the Linux build for the
# same cases: raw TCP and LPR jobs to printer simulators (nvprinter of the Linux build) on
# loopback, driven by the job host as the spooler drives a monitor. Each build must pass its
# own checks, and both must report the same outcome for every case.
#
#   tests/win32/run-wine-jobs.sh BUILD_DIR_I686 BUILD_DIR_X86_64 LINUX_BUILD_DIR
#
# Wine uses the host's sockets, and the LPR jobs leave from the fixed local ports 721..731: the
# whole script runs in a private network namespace of its own.
set -euo pipefail

if [ "${NV_WINE_JOBS_NETNS:-}" != 1 ]; then
  args=()
  for dir in "$@"; do args+=("$(realpath "$dir")"); done
  exec env NV_WINE_JOBS_NETNS=1 unshare -n bash "$(realpath "$0")" "${args[@]}"
fi
ip link set lo up

i686_dir=$1 x64_dir=$2 linux_dir=$3
. "$(dirname "$0")/wine-env.sh"

work=$(mktemp -d /tmp/nvjobs-XXXXXX)
pids=()
stop_printers() {
  local pid
  for pid in "${pids[@]}"; do stop_process "$pid"; done
  pids=()
}
cleanup() {
  stop_printers
  if [ -n "${WINEPREFIX:-}" ]; then "$WINESERVER" -k 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# start_printer DIR NAME MODE [OPTIONS...]: nvprinter in the background, its port in DIR/NAME/port.
start_printer() {
  local dir=$1/$2 mode=$3 line port
  shift 3
  mkdir -p "$dir/out"
  "$linux_dir/bin/nvprinter" "$mode" --listen 127.0.0.1:0 --out "$dir/out" "$@" \
    >"$dir/stdout" 2>"$dir/log" &
  pids+=($!)
  for _ in $(seq 100); do
    line=$(head -n1 "$dir/stdout" 2>/dev/null || true)
    port=${line##*:}
    if [ -n "$port" ] && [ "$port" != "$line" ]; then
      echo "$port" >"$dir/port"
      return 0
    fi
    sleep 0.05
  done
  echo "FAILED: nvprinter $mode $* did not start: $(cat "$dir/log")"
  return 1
}

# A fresh set of printers for one run of the job host.
start_printers() {
  local dir=$1
  start_printer "$dir" raw raw
  start_printer "$dir" refused raw --refuse
  start_printer "$dir" stall raw --stall-after 0
  start_printer "$dir" reset raw --reset-after 300000
  start_printer "$dir" talk raw --status-on-connect 40 --slow 3000000
  start_printer "$dir" random raw --reset-random 2000000 --seed 1
  start_printer "$dir" pause raw --pause-after 100000 --pause-ms 5000
  start_printer "$dir" lpd lpd
  start_printer "$dir" nak1 lpd --nak-at 1
  start_printer "$dir" nak5 lpd --nak-at 5
  start_printer "$dir" close3 lpd --close-at 3
  start_printer "$dir" silent3 lpd --silent-at 3
}

# A job host that hangs fails the run instead of holding it.
host_timeout=(timeout --kill-after=10 600)
status=0

echo "== Linux build: job host over libnvtcpmon.so"
mkdir -p "$work/linux/spool"
start_printers "$work/linux/printers"
if ! NORVA_REGISTRY=$work/linux/registry.db TMPDIR=$work/linux/spool "${host_timeout[@]}" \
    "$linux_dir/bin/job_host" "$linux_dir/lib/libnvtcpmon.so" "$work/linux/printers" \
    | tee "$work/linux/outcomes"; then
  echo "FAILED: job host (Linux)"
  status=1
fi
stop_printers

for arch in x86_64 i686; do
  dir=$x64_dir loader=$WINE64 system=system32
  if [ "$arch" = i686 ]; then
    dir=$i686_dir loader=$WINE32 system=syswow64
    if [ -z "$loader" ]; then
      skip_i686 "jobs through the DLL" "the i686 DLLs are still built and checked"
      continue
    fi
  fi
  echo "== Windows build ($arch): job host over nvtcpmon.dll under Wine"
  unset DISPLAY
  wine_prefix "$work/prefix-$arch" "$loader"
  # The monitor is loaded from the system folder by name, as the spooler loads it; its
  # SPOOLSS.DLL import resolves to the stand-in in the job host's folder.
  cp "$dir/bin/nvtcpmon.dll" "$WINEPREFIX/drive_c/windows/$system/"
  start_printers "$work/$arch/printers"
  if ! WINEDLLOVERRIDES=spoolss=n "${host_timeout[@]}" "$loader" "$dir/bin/jobhost/job_host.exe" nvtcpmon.dll \
      "Z:$work/$arch/printers" | tr -d '\r' | tee "$work/$arch/outcomes"; then
    echo "FAILED: job host ($arch)"
    status=1
  fi
  stop_printers
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w

  echo "== The same outcomes on Linux and Windows ($arch)"
  if ! diff <(grep '^case ' "$work/linux/outcomes") <(grep '^case ' "$work/$arch/outcomes"); then
    echo "FAILED: the outcomes differ between the Linux build and the Windows build ($arch)"
    status=1
  else
    echo "ok: $(grep -c '^case ' "$work/$arch/outcomes") cases, the same outcome on both"
  fi
done
exit $status
