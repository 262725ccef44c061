#!/usr/bin/env bash
# Print jobs through the Windows monitor DLL under Wine, and through the Linux build for the
# same cases: raw TCP and LPR jobs to printer simulators (nvprinter of the Linux build) on
# loopback, driven by the job host as the spooler drives a monitor. Each build must pass its
# own checks, and both must report the same outcome for every case. Each build runs twice:
# as it is, and with the functions of later Windows releases made absent (NORVA_TEST=
# no-late-api), so that their fallbacks run too. Restarted jobs pause 100 ms instead of 2 s.
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
# A printer's few KB of TCP buffers for every socket here, not loopback's megabytes.
sysctl -q -w net.ipv4.tcp_wmem="4096 8192 8192" net.ipv4.tcp_rmem="4096 8192 8192"

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

# start_live_printer DIR NAME: one printer with a raw port, an LPD and its SNMP agent on port
# 161 (this network's own), commands read from DIR/NAME/control; its ports in DIR/NAME/port and
# DIR/NAME/lpd-port.
start_live_printer() {
  local dir=$1/$2 line
  mkdir -p "$dir/out"
  "$linux_dir/bin/nvprinter" printer --raw 127.0.0.1:0 --lpd 127.0.0.1:0 --snmp 127.0.0.1:161 \
    --out "$dir/out" --control "$dir/control" --slow 200000 >"$dir/stdout" 2>"$dir/log" &
  pids+=($!)
  for _ in $(seq 100); do
    if [ "$(grep -c 'listening on' "$dir/stdout" 2>/dev/null)" = 3 ]; then
      line=$(grep '^raw listening on' "$dir/stdout")
      echo "${line##*:}" >"$dir/port"
      line=$(grep '^lpd listening on' "$dir/stdout")
      echo "${line##*:}" >"$dir/lpd-port"
      return 0
    fi
    sleep 0.05
  done
  echo "FAILED: nvprinter printer did not start: $(cat "$dir/log")"
  return 1
}

# A fresh set of printers for one run of the job host: those of its own cases, and one per
# case of the table of printer faults.
start_printers() {
  local dir=$1 name mode options
  start_printer "$dir" raw raw
  start_printer "$dir" refused raw --refuse
  start_printer "$dir" lpd lpd
  start_live_printer "$dir" status
  while read -r name mode options; do
    # shellcheck disable=SC2086 # the options are words
    start_printer "$dir" "$name" "$mode" $options
  done < <("$linux_dir/bin/job_host" --list-faults)
}

# A job host that hangs fails the run instead of holding it.
host_timeout=(timeout --kill-after=10 600)
status=0

pacing=pacing-ms=100
# run_linux NAME SWITCHES: the Linux job host, its outcomes in $work/NAME/outcomes.
run_linux() {
  local name=$1 switches=$2
  echo "== Linux build ($name): job host over libnvtcpmon.so"
  mkdir -p "$work/$name/spool"
  start_printers "$work/$name/printers"
  if ! NORVA_TEST=$switches NORVA_REGISTRY=$work/$name/registry.db TMPDIR=$work/$name/spool \
      "${host_timeout[@]}" "$linux_dir/bin/job_host" "$linux_dir/lib/libnvtcpmon.so" \
      "$work/$name/printers" | tee "$work/$name/outcomes"; then
    echo "FAILED: job host (Linux, $name)"
    status=1
  fi
  stop_printers
}

# compare NAME: the same outcome lines as the Linux build's.
compare() {
  echo "== The same outcomes on Linux and $1"
  if ! diff <(grep '^case ' "$work/linux/outcomes") <(grep '^case ' "$work/$1/outcomes"); then
    echo "FAILED: the outcomes differ between the Linux build and $1"
    status=1
  else
    echo "ok: $(grep -c '^case ' "$work/$1/outcomes") cases, the same outcome on both"
  fi
}

run_linux linux "$pacing"
run_linux linux-no-late-api "$pacing,no-late-api"
compare linux-no-late-api

for arch in x86_64 i686; do
  dir=$x64_dir loader=$WINE64 system=system32
  if [ "$arch" = i686 ]; then
    dir=$i686_dir loader=$WINE32 system=syswow64
    if [ -z "$loader" ]; then
      skip_i686 "jobs through the DLL" "the i686 DLLs are still built and checked"
      continue
    fi
  fi
  unset DISPLAY
  wine_prefix "$work/prefix-$arch" "$loader"
  # The monitor is loaded from the system folder by name, as the spooler loads it; its
  # SPOOLSS.DLL import resolves to the stand-in in the job host's folder.
  cp "$dir/bin/nvtcpmon.dll" "$WINEPREFIX/drive_c/windows/$system/"
  for switches in "$pacing" "$pacing,no-late-api"; do
    name=$arch${switches#"$pacing"}
    name=${name/,/-}
    echo "== Windows build ($name): job host over nvtcpmon.dll under Wine"
    start_printers "$work/$name/printers"
    if ! NORVA_TEST=$switches WINEDLLOVERRIDES=spoolss=n "${host_timeout[@]}" "$loader" \
        "$dir/bin/jobhost/job_host.exe" nvtcpmon.dll "Z:$work/$name/printers" | tr -d '\r' |
        tee "$work/$name/outcomes"; then
      echo "FAILED: job host ($name)"
      status=1
    fi
    stop_printers
    compare "$name"
  done
  "$WINESERVER" -k 2>/dev/null || true
  "$WINESERVER" -w
done
exit $status
