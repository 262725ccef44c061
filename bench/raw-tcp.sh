#!/usr/bin/env bash
# Raw TCP through the monitor, measured against a plain sender on the same machine in one run.
#
#  1. One big job (256 MiB by default): `nvspool print` through a raw port against
#     `nc -N` sending the same file, both to the same `nvprinter raw --discard` sink on
#     loopback, in alternating rounds. Prints the median wall time, throughput and CPU seconds
#     (user + system of the sender's process) per GiB of each, and their ratios.
#  2. The same job with the printer's SNMP agent answering the monitor's status queries
#     during the job (every 500 ms instead of 5 s, to make them count) against a port whose
#     SnmpEnabled is 0, in alternating rounds.
#  3. Fifty jobs on fifty ports at once (16 MiB each by default), each port its own nvspool
#     process, against one such job alone times fifty.
#
# Usage: bench/raw-tcp.sh [--size MIB] [--rounds N] [--ports N] [--port-size MIB]
# Environment: NORVA_BUILD (the build tree, default build); NORVA_SIMULATOR (the nvprinter to
# use, default the build's: an older build's monitor can be measured with today's simulator).
# Needs netcat-openbsd.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=256
rounds=3
ports=50
port_mib=16
while [ $# -gt 0 ]; do
  case $1 in
    --size) size_mib=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --ports) ports=$2; shift 2 ;;
    --port-size) port_mib=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "raw-tcp.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

build=${NORVA_BUILD:-build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
bin=$build/bin
simulator_bin=${NORVA_SIMULATOR:-$bin/nvprinter}
for tool in "$bin/nvspool" "$simulator_bin"; do
  [ -x "$tool" ] || { echo "raw-tcp.sh: no $tool (build first)" >&2; exit 1; }
done
command -v nc >/dev/null || { echo "raw-tcp.sh: nc is missing (apt-get install netcat-openbsd)" >&2; exit 1; }

work=$(mktemp -d /tmp/norva-bench-raw-XXXXXX)
sink_pid=
cleanup() {
  if [ -n "$sink_pid" ]; then kill "$sink_pid" 2>/dev/null || true; wait "$sink_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export NORVA_REGISTRY=$work/registry.db

# The sink: one simulator for every job, one line per job on its stderr, with an SNMP agent
# that answers the monitor's status queries.
"$simulator_bin" printer --raw 127.0.0.1:0 --snmp 127.0.0.1:0 --discard \
  > "$work/sink.out" 2> "$work/sink.log" &
sink_pid=$!
for _ in $(seq 200); do [ "$(grep -c 'listening on' "$work/sink.out")" -ge 2 ] && break; sleep 0.01; done
sink_port=$(sed -n 's/^raw listening on .*:\([0-9]*\)$/\1/p' "$work/sink.out")
snmp_port=$(sed -n 's/^snmp listening on .*:\([0-9]*\)$/\1/p' "$work/sink.out")
[ -n "$sink_port" ] && [ -n "$snmp_port" ] || { echo "raw-tcp.sh: the sink did not start" >&2; exit 1; }

# Runs a command with its output discarded; prints "real user sys" in seconds.
measure() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" > /dev/null 2> "$work/last.err"; } 2>&1 || {
    echo "raw-tcp.sh: failed: $* ($(cat "$work/last.err"))" >&2
    exit 1
  }
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
jobs_done() { grep -c "bytes from" "$work/sink.log" || true; }
# Waits until the sink has finished `count` jobs in all, and checks the last `new` of them.
expect_jobs() {
  local count=$1 new=$2 bytes=$3
  for _ in $(seq 1000); do [ "$(jobs_done)" -ge "$count" ] && break; sleep 0.01; done
  local whole
  whole=$(grep "bytes from" "$work/sink.log" | tail -n "$new" | grep -c "^job [0-9]*: $bytes bytes" || true)
  [ "$whole" -eq "$new" ] || { echo "raw-tcp.sh: only $whole of $new jobs arrived whole" >&2; tail "$work/sink.log" >&2; exit 1; }
}

"$bin/nvspool" add-port BENCH --ip 127.0.0.1 --port-number "$sink_port" --timeout 60000 > /dev/null
"$bin/nvspool" add-port BENCHSNMP --ip 127.0.0.1 --port-number "$sink_port" --timeout 60000 > /dev/null
"$bin/nvspool" config-port BENCH --snmp-enabled 0 > /dev/null
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$work/job.prn"
bytes=$((size_mib * 1024 * 1024))

echo "== One ${size_mib} MiB job, ${rounds} rounds each, sink: nvprinter raw --discard on 127.0.0.1:$sink_port"
echo "   monitor: $bin/nvspool print --quiet --port BENCH job.prn"
echo "   peer:    nc -N 127.0.0.1 $sink_port < job.prn"
done_count=0
: > "$work/nvspool.times"
: > "$work/nc.times"
for round in $(seq "$rounds"); do
  t=$(measure "$bin/nvspool" print --quiet --port BENCH "$work/job.prn")
  done_count=$((done_count + 1)); expect_jobs "$done_count" 1 "$bytes"
  echo "$t" >> "$work/nvspool.times"
  u=$(measure sh -c "nc -N 127.0.0.1 $sink_port < '$work/job.prn'")
  done_count=$((done_count + 1)); expect_jobs "$done_count" 1 "$bytes"
  echo "$u" >> "$work/nc.times"
  # shellcheck disable=SC2086 # each of t and u is three figures, one per %s
  printf '   round %d: nvspool %s s (user %s, sys %s); nc %s s (user %s, sys %s)\n' "$round" $t $u
done
summarise() {
  local name=$1 file=$2
  local real cpu
  real=$(awk '{ print $1 }' "$file" | median)
  cpu=$(awk '{ print $2 + $3 }' "$file" | median)
  awk -v n="$name" -v r="$real" -v c="$cpu" -v mib="$size_mib" 'BEGIN {
    printf "   %-8s median %.3f s  %8.1f MiB/s  CPU %.3f s = %.3f CPU s/GiB\n", n, r, mib / r, c, c / (mib / 1024) }'
  echo "$real $cpu" > "$work/$name.median"
}
summarise nvspool "$work/nvspool.times"
summarise nc "$work/nc.times"
read -r nv_real nv_cpu < "$work/nvspool.median"
read -r nc_real nc_cpu < "$work/nc.median"
awk -v a="$nv_real" -v b="$nc_real" -v c="$nv_cpu" -v d="$nc_cpu" 'BEGIN {
  printf "   throughput nvspool/nc = %.2f   CPU per GiB nvspool/nc = %.2f\n", b / a, (d > 0 ? c / d : 0) }'

echo
echo "== The same job, the printer's agent answering status queries every 500 ms, against SnmpEnabled 0"
: > "$work/snmp.times"
: > "$work/nosnmp.times"
for round in $(seq "$rounds"); do
  t=$(NORVA_TEST=snmp-port=$snmp_port,status-interval-ms=500 measure "$bin/nvspool" print --quiet --port BENCHSNMP "$work/job.prn")
  done_count=$((done_count + 1)); expect_jobs "$done_count" 1 "$bytes"
  echo "$t" >> "$work/snmp.times"
  u=$(measure "$bin/nvspool" print --quiet --port BENCH "$work/job.prn")
  done_count=$((done_count + 1)); expect_jobs "$done_count" 1 "$bytes"
  echo "$u" >> "$work/nosnmp.times"
done
summarise snmp "$work/snmp.times"
summarise nosnmp "$work/nosnmp.times"
read -r snmp_real _ < "$work/snmp.median"
read -r nosnmp_real _ < "$work/nosnmp.median"
awk -v a="$snmp_real" -v b="$nosnmp_real" 'BEGIN {
  printf "   throughput with SNMP answering / SnmpEnabled 0 = %.3f\n", b / a }'

echo
echo "== ${ports} jobs of ${port_mib} MiB on ${ports} ports at once, one nvspool process per port"
head -c $((port_mib * 1024 * 1024)) "$work/job.prn" > "$work/small.prn" 2>/dev/null ||
  head -c $((port_mib * 1024 * 1024)) /dev/urandom > "$work/small.prn"
small_bytes=$(stat -c %s "$work/small.prn")
for i in $(seq -f %02g "$ports"); do
  "$bin/nvspool" add-port "PAR$i" --ip 127.0.0.1 --port-number "$sink_port" --timeout 60000 > /dev/null
done
: > "$work/one.times"
for _ in $(seq "$rounds"); do
  measure "$bin/nvspool" print --quiet --port PAR01 "$work/small.prn" >> "$work/one.times"
  done_count=$((done_count + 1)); expect_jobs "$done_count" 1 "$small_bytes"
done
one=$(awk '{ print $1 }' "$work/one.times" | median)

# All at once: every process started, then every one waited for; each must succeed.
parallel() {
  local pids=() failed=0
  for i in $(seq -f %02g "$ports"); do
    "$bin/nvspool" print --quiet --port "PAR$i" "$work/small.prn" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
  [ "$failed" -eq 0 ] || { echo "raw-tcp.sh: $failed parallel jobs failed" >&2; return 1; }
}
: > "$work/all.times"
for _ in $(seq "$rounds"); do
  measure parallel >> "$work/all.times"
  done_count=$((done_count + ports)); expect_jobs "$done_count" "$ports" "$small_bytes"
done
all=$(awk '{ print $1 }' "$work/all.times" | median)
awk -v one="$one" -v all="$all" -v n="$ports" 'BEGIN {
  printf "   one job alone: median %.3f s; %d at once: median %.3f s\n", one, n, all
  printf "   %d at once / (one job x %d) = %.3f / %.3f = %.2f\n", n, n, all, one * n, all / (one * n) }'
echo "   (the machine has $(nproc) CPUs)"
