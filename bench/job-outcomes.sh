#!/usr/bin/env bash
# Job outcomes under printer faults, through `nvspool print` and the printer simulator.
#
# For each case: how many runs `nvspool print` reported as printed (exit 0), how many whole
# copies the simulator received (every byte of the job in one connection), how many of those
# were duplicates (a second or later whole copy of one run: a page printed twice), and how long
# the slowest failure took. A sound monitor reports a job printed only when the printer holds
# exactly one whole copy of it ("printed" = "whole", no duplicates), and ends every failure
# within a bound tied to the port's time-out. A run that is still going at its cap is killed
# and counted as a failure that took the cap ("killed").
#
# Usage: bench/job-outcomes.sh [--case NAME]... [--list]
# Environment: NORVA_BUILD (the build tree, default build); NORVA_SIMULATOR (the nvprinter to
# use, default the build's: an older build's monitor can be measured with today's simulator).
# Needs root (local ports 721..731, a 1 MiB tmpfs) and a private network and mount namespace
# of its own:
#   unshare -n -m bash -c 'ip link set lo up; bash bench/job-outcomes.sh'
set -euo pipefail
cd "$(dirname "$0")/.."

all_cases="raw-reset-random raw-status raw-reset-300k raw-reset-after-job raw-close-early raw-pause
raw-pause-near-end raw-refused raw-timeout-0 lpd-faults lpd-late-ack lpd-refused-step-1 lpd-refused
lpd-13-at-once lpd-30-at-once lpd-full-disk lpd-timeout-0 lpd-source"
cases=()
while [ $# -gt 0 ]; do
  case $1 in
    --case) cases+=("$2"); shift 2 ;;
    --list) echo "$all_cases" | tr ' ' '\n'; exit 0 ;;
    -h|--help) sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "job-outcomes.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
[ ${#cases[@]} -gt 0 ] || read -r -a cases <<< "$(echo $all_cases)"

build=${NORVA_BUILD:-build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
bin=$build/bin
simulator_bin=${NORVA_SIMULATOR:-$bin/nvprinter}
for tool in "$bin/nvspool" "$simulator_bin"; do
  [ -x "$tool" ] || { echo "job-outcomes.sh: no $tool (build first)" >&2; exit 1; }
done
[ "$(id -u)" -eq 0 ] || { echo "job-outcomes.sh: needs root" >&2; exit 1; }

work=$(mktemp -d /tmp/norva-outcomes-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  umount "$work/tiny" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export NORVA_REGISTRY=$work/registry.db
export TMPDIR=$work/spool
mkdir -p "$TMPDIR"

# Starts the simulator (MODE and its options) on a free loopback port; sets $port and $log.
simulator() {
  local mode=$1; shift
  log=$work/sim-$((${#pids[@]} + 1)).log
  "$simulator_bin" "$mode" --listen 127.0.0.1:0 --discard "$@" > "$log.out" 2> "$log" &
  pids+=($!)
  for _ in $(seq 200); do grep -q 'listening on' "$log.out" 2>/dev/null && break; sleep 0.01; done
  port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$log.out")
  [ -n "$port" ] || { echo "job-outcomes.sh: the simulator did not start" >&2; exit 1; }
}
# Waits until the simulator's log has stopped growing (every connection has ended).
settle() {
  local before=-1 now
  for _ in $(seq 100); do
    now=$(wc -l < "$log")
    [ "$now" -eq "$before" ] && return
    before=$now
    sleep 0.3
  done
}
# A port to the simulator: NAME, then add-port settings.
add_port() {
  local name=$1; shift
  "$bin/nvspool" add-port "$name" --ip 127.0.0.1 --port-number "$port" "$@" > /dev/null
}
data() { head -c "$2" /dev/urandom > "$work/$1"; }

# A printer's few KB of TCP buffers for every socket of the namespace (on), or loopback's own
# (off).
printer_buffers() {
  if [ "$1" = on ]; then
    sysctl -q -w net.ipv4.tcp_wmem="4096 8192 8192" net.ipv4.tcp_rmem="4096 8192 8192"
  else
    sysctl -q -w net.ipv4.tcp_wmem="$wmem" net.ipv4.tcp_rmem="$rmem"
  fi
}
wmem=$(sysctl -n net.ipv4.tcp_wmem)
rmem=$(sysctl -n net.ipv4.tcp_rmem)

# One print, capped at CAP seconds: appends "exit milliseconds whole-copies" to $work/runs,
# with the whole copies (connections that carried the whole job) that this run made.
print_job() {
  local cap=$1; shift
  local start end rc=0 before whole
  before=$(wc -l < "$log")
  start=$(date +%s%N)
  timeout -k 2 "$cap" "$bin/nvspool" print --quiet "$@" > /dev/null 2>> "$work/errors" || rc=$?
  end=$(date +%s%N)
  settle_quick
  whole=$(tail -n +"$((before + 1))" "$log" | whole_in)
  echo "$rc $(( (end - start) / 1000000 )) $whole" >> "$work/runs"
}
# Summary line of a case: NAME [NOTE]; the runs come from $work/runs.
report() {
  local name=$1 note=${2:-}
  awk -v n="$name" -v note="$note" '
    { runs++; whole += $3; if ($3 > 1) dups += $3 - 1
      if ($1 == 0) { printed++; if ($3 == 0) short++ }
      else { failed++; if ($2 > slow) slow = $2; if ($1 == 124) killed++ } }
    END {
      s = failed ? sprintf("%.1f s%s", slow / 1000, killed ? " (killed)" : "") : "-"
      printf "%-19s %5d %8d %6d %5d %6d %7d  %-18s %s\n", n, runs, printed, whole, dups, short,
             failed, s, note
    }' "$work/runs"
  : > "$work/runs"
  : > "$work/errors"
}
last_error() { tail -n 1 "$work/errors" | sed 's/^nvspool: //' | cut -c1-70; }
# The whole copies among simulator summary lines on stdin: a raw connection that carried the
# job's $size bytes; an LPD data file of $size bytes that the daemon did not refuse.
whole_in() {
  { grep -E "^job [0-9]+: ($size bytes from|status [0-9] .*dfA[^ ]* $size bytes)" || true; } |
    { grep -vc 'answered 0x01' || true; }
}
# Waits a moment for the simulator to log the connections of the run that just ended.
settle_quick() {
  local before=-1 now
  for _ in $(seq 20); do
    now=$(wc -l < "$log")
    [ "$now" -eq "$before" ] && return
    before=$now
    sleep 0.1
  done
}
: > "$work/runs"
: > "$work/errors"

run_case() {
  case $1 in
    raw-reset-random)
      # 200 jobs of 1,000,000 bytes to a printer with a 64 KB receive buffer; each connection is
      # reset after a random count of 0..1,999,999 bytes, so about half of the attempts fail
      # part-way. "short" counts the jobs sent whose reset fell in the printer's last buffer.
      simulator raw --rcvbuf 65536 --reset-random 2000000
      add_port RANDOM --timeout 5000
      data job1m 1000000; size=1000000
      for _ in $(seq 200); do print_job 300 --port RANDOM "$work/job1m"; done
      report "$1" "$(grep -c 'reset by the printer' "$log" || true) resets" ;;
    raw-status)
      # 20 jobs of 300 KB to a printer that sends 40 bytes of status when each job starts.
      simulator raw --status-on-connect 40
      add_port STATUS --timeout 5000
      data job300k 307200; size=307200
      for _ in $(seq 20); do print_job 60 --port STATUS "$work/job300k"; done
      report "$1" ;;
    raw-reset-300k)
      # 5 jobs of 1,000,000 bytes; the printer resets every connection after 300,000 bytes.
      simulator raw --rcvbuf 65536 --reset-after 300000
      add_port RESET --timeout 5000
      data job1m 1000000; size=1000000
      for _ in $(seq 5); do print_job 120 --port RESET "$work/job1m"; done
      report "$1" ;;
    raw-reset-after-job)
      # 20 jobs of 100,000 bytes to a printer that ends every connection with a reset once it
      # has read the whole job, as many embedded printers do.
      simulator raw --reset-after 100000
      add_port RESETEND --timeout 5000
      data job100k 100000; size=100000
      for _ in $(seq 20); do print_job 60 --port RESETEND "$work/job100k"; done
      report "$1" ;;
    raw-close-early)
      # 50 jobs of 1,000,000 bytes; the printer closes every connection normally (FIN) after
      # 300,000 bytes, with the rest unread or still on its way.
      simulator raw --rcvbuf 65536 --close-early 300000
      add_port EARLY --timeout 5000
      data job1m 1000000; size=1000000
      for _ in $(seq 50); do print_job 120 --restarts 0 --port EARLY "$work/job1m"; done
      report "$1" "$(last_error)" ;;
    raw-pause)
      # 3 jobs of 20,000,000 bytes, time-out 2000 ms; the printer stops reading for 3 s after
      # 100 kB of each connection.
      simulator raw --pause-after 100000 --pause-ms 3000
      add_port PAUSE --timeout 2000
      data job20m 20000000; size=20000000
      for _ in $(seq 3); do print_job 120 --port PAUSE "$work/job20m"; done
      report "$1" ;;
    raw-pause-near-end)
      # Printer-sized buffers (8 KB; the printer's own 4 KB, read 1 KB at a time): 3 jobs of
      # 200,000 bytes in WritePorts of 1024, time-out 2000 ms; the printer pauses 6 s (paper
      # out) at byte 190,000, longer than the time-out.
      printer_buffers on
      simulator raw --rcvbuf 4096 --read-size 1024 --pause-after 190000 --pause-ms 6000
      add_port NEAREND --timeout 2000
      data job200k 200000; size=200000
      for _ in $(seq 3); do print_job 60 --block 1024 --port NEAREND "$work/job200k"; done
      printer_buffers off
      report "$1" ;;
    raw-refused)
      # A printer that refuses the connection; the default 3 restarts.
      simulator raw --refuse
      add_port REFUSED --timeout 5000
      data small 1000; size=1000
      print_job 60 --port REFUSED "$work/small"
      report "$1" "$(last_error)" ;;
    raw-timeout-0)
      # A 30 MB job through a port whose stored time-out is 0, to a printer that reads
      # 20 MB/s.
      simulator raw --slow 20000000
      add_port ZERO
      "$bin/nvspool" config-port ZERO --timeout 0 > /dev/null
      data job30m 30000000; size=30000000
      print_job 60 --port ZERO "$work/job30m"
      report "$1" ;;
    lpd-faults)
      # A daemon that answers 0x01, closes, or stays silent at each of the five steps; one job
      # of 100 kB each, time-out 1000 ms, one restart.
      data job100k 102400; size=102400
      local fault step
      for fault in nak close silent; do
        for step in 1 2 3 4 5; do
          simulator lpd --$fault-at $step
          add_port "LPD_${fault}_$step" --lpr --queue lp --timeout 1000
          print_job 60 --restarts 1 --port "LPD_${fault}_$step" "$work/job100k"
        done
      done
      report "$1" "nak, close, silent x steps 1..5" ;;
    lpd-late-ack)
      # 5 jobs of 100 kB to a daemon that takes the whole data file and never answers it.
      simulator lpd --silent-at 5
      add_port LATE --lpr --queue lp --timeout 2000
      data job100k 102400; size=102400
      for _ in $(seq 5); do print_job 60 --port LATE "$work/job100k"; done
      report "$1" ;;
    lpd-refused-step-1)
      # A daemon that refuses the queue; the job may restart without limit and is deleted
      # (SIGINT, as a user deletes it in the queue) after 60 s.
      simulator lpd --nak-at 1
      add_port NAK1 --lpr --queue lp --timeout 2000
      data small 1000; size=1000
      local pid started signalled ended rc=0
      started=$(date +%s%N)
      "$bin/nvspool" print --quiet --restarts 1000 --port NAK1 "$work/small" 2>> "$work/errors" &
      pid=$!
      sleep 60
      signalled=$(date +%s%N)
      kill -INT "$pid" 2>/dev/null || true  # an older monitor may have given up by itself
      wait "$pid" || rc=$?
      ended=$(date +%s%N)
      echo "$rc $(( (ended - started) / 1000000 )) 0" >> "$work/runs"
      settle_quick
      report "$1" "$(grep -c '^job ' "$log") attempts in 60 s; ended $(( (ended - signalled) / 1000000 )) ms after SIGINT (exit $rc)" ;;
    lpd-refused)
      simulator raw --refuse
      add_port LPDREFUSED --lpr --queue lp --timeout 5000
      data small 1000; size=1000
      print_job 60 --port LPDREFUSED "$work/small"
      report "$1" "$(last_error)" ;;
    lpd-13-at-once|lpd-30-at-once)
      # N jobs of 10 MB at once to one daemon that reads 5 MB/s per connection: more jobs
      # than the 11 local ports 721..731, each holding its port about 2 s.
      local n=${1#lpd-}; n=${n%-at-once}
      simulator lpd --slow 5000000
      data job10m 10000000; size=10000000
      local i printing=()
      for i in $(seq "$n"); do add_port "M${n}_$i" --lpr --queue lp --timeout 15000; done
      for i in $(seq "$n"); do
        print_job 300 --port "M${n}_$i" "$work/job10m" &
        printing+=($!)
      done
      wait "${printing[@]}"
      # The runs overlap: their copies are counted all together, one to each run as far as
      # they go, and any beyond one a run to the first (as duplicates).
      settle
      awk -v w="$(whole_in < "$log")" -v n="$n" '
        { $3 = (NR <= w) ? 1 : 0; if (NR == 1 && w > n) $3 += w - n; print }' \
        "$work/runs" > "$work/runs.all" && mv "$work/runs.all" "$work/runs"
      report "$1" ;;
    lpd-full-disk)
      # A 3,000,000-byte job while the spool directory is a 1 MiB tmpfs.
      mkdir -p "$work/tiny"
      mount -t tmpfs -o size=1m tmpfs "$work/tiny"
      simulator lpd
      add_port FULL --lpr --queue lp --timeout 5000
      data job3m 3000000; size=3000000
      TMPDIR=$work/tiny print_job 60 --port FULL "$work/job3m"
      umount "$work/tiny"
      local got
      got=$({ grep -o 'dfA[^ ]* [0-9]* bytes' "$log" || true; } | awk '{ print $2 }' | sort -u | tr '\n' ' ')
      report "$1" "data files taken: ${got:-none}; $(last_error)" ;;
    lpd-timeout-0)
      # A daemon that never answers the control file, through a port whose stored time-out is 0;
      # no restart.
      simulator lpd --silent-at 3
      add_port LPDZERO --lpr --queue lp
      "$bin/nvspool" config-port LPDZERO --timeout 0 > /dev/null
      data small 1000; size=1000
      print_job 40 --restarts 0 --port LPDZERO "$work/small"
      report "$1" "$(last_error)" ;;
    lpd-source)
      # The machine's name resolves first to an address that cannot reach the printer.
      simulator lpd
      add_port SOURCE --lpr --queue lp --timeout 5000
      data small 1000; size=1000
      NORVA_HOST_ADDRESSES=192.0.2.1,127.0.0.1 print_job 60 --port SOURCE "$work/small"
      report "$1" ;;
    *) echo "job-outcomes.sh: no case $1 (--list)" >&2; exit 2 ;;
  esac
}

echo "monitor: $build ($(date -u +%FT%TZ))"
printf '%-19s %5s %8s %6s %5s %6s %7s  %-18s %s\n' case runs printed whole dups short failed \
  "slowest failure" note
for c in "${cases[@]}"; do
  run_case "$c"
done
