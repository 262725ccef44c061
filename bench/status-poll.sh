#!/usr/bin/env bash
# The monitor's status queries under load: N jobs at once on N ports (200 by default), each
# port its own nvspool process, to one printer that reads each job slowly and answers SNMP.
# Prints how many status requests its agent received, per port and per interval of 5 s: a
# sound poller asks each printing port once per interval (and once more only to confirm a
# change, or when a printer stays silent).
#
# Usage: bench/status-poll.sh [--ports N] [--seconds S]
# Environment: NORVA_BUILD (the build tree, default build). Needs root and a private network
# namespace of its own (the agent listens on UDP port 161 of it):
#   unshare -n bash -c 'ip link set lo up; bash bench/status-poll.sh'
set -euo pipefail
cd "$(dirname "$0")/.."

ports=200
seconds=20
while [ $# -gt 0 ]; do
  case $1 in
    --ports) ports=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "status-poll.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
build=${NORVA_BUILD:-build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
bin=$build/bin
[ "$(id -u)" -eq 0 ] || { echo "status-poll.sh: needs root" >&2; exit 1; }

work=$(mktemp -d /tmp/norva-status-XXXXXX)
printer_pid=
cleanup() {
  if [ -n "$printer_pid" ]; then kill "$printer_pid" 2>/dev/null || true; wait "$printer_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export NORVA_REGISTRY=$work/registry.db
ulimit -n 8192

# Each job of 100 kB takes about `seconds` at the printer.
rate=$((100000 / seconds))
"$bin/nvprinter" printer --raw 127.0.0.1:0 --snmp 127.0.0.1:161 --discard --slow "$rate" \
  --control "$work/control" > "$work/printer.out" 2> "$work/printer.log" &
printer_pid=$!
for _ in $(seq 200); do [ "$(grep -c 'listening on' "$work/printer.out")" -ge 2 ] && break; sleep 0.01; done
raw_port=$(sed -n 's/^raw listening on .*:\([0-9]*\)$/\1/p' "$work/printer.out")
[ -n "$raw_port" ] || { echo "status-poll.sh: the printer did not start" >&2; exit 1; }
head -c 100000 /dev/urandom > "$work/job.prn"
for i in $(seq -f %03g "$ports"); do
  "$bin/nvspool" add-port "S$i" --ip 127.0.0.1 --port-number "$raw_port" --timeout 60000 > /dev/null
done

echo "== $ports jobs of 100 kB at once on $ports ports, each about $seconds s at the printer"
start=$(date +%s%N)
pids=()
for i in $(seq -f %03g "$ports"); do
  "$bin/nvspool" print --quiet --port "S$i" "$work/job.prn" &
  pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do wait "$pid" || failed=$((failed + 1)); done
elapsed_ms=$(( ($(date +%s%N) - start) / 1000000 ))
echo report > "$work/control"
sleep 0.5
datagrams=$(grep -o '[0-9]* SNMP datagrams received' "$work/printer.log" | tail -n 1 | awk '{ print $1 }')
awk -v d="${datagrams:-0}" -v n="$ports" -v ms="$elapsed_ms" -v f="$failed" 'BEGIN {
  intervals = ms / 5000
  printf "   %d jobs in %.1f s (%d failed); %d status requests in all\n", n, ms / 1000, f, d
  printf "   %.2f requests per port, %.2f per port per interval of 5 s (the jobs lasted %.1f intervals)\n",
         d / n, d / n / intervals, intervals }'
