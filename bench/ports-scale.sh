#!/usr/bin/env bash
# The monitor with many ports: how load, list and change grow with the number of ports.
#
# For each number of ports N: a .reg file with N ports (three values each) is generated and
# imported into a fresh store with `nvreg import` (timed), then, in alternating rounds:
#   ports      nvspool ports                       load every port, list them (EnumPorts)
#   show       nvspool show-port <the last port>   load, then one port's settings
#   add        nvspool add-port BENCH_NEW ...      load, then add one port
#   delete     nvspool delete-port BENCH_NEW       load, then delete it again
#   peer       sqlite3 reading the same port names straight from the store file
# Each figure is the median wall time of whole process runs. The growth ratio of a column is
# its time per port at N over its time per port at the first N: 1.00 is linear growth.
#
# Usage: bench/ports-scale.sh [--sizes "1000 2500 5000 10000 20000"] [--rounds N]
#                             [--nvspool PATH]
#   --nvspool PATH  the nvspool to measure (its monitor is the one beside it), for example a
#                   build of an older tree; nvreg (the import) always comes from the build.
# Environment: NORVA_BUILD (the build tree, default build). Needs sqlite3 and GNU time.
set -euo pipefail
cd "$(dirname "$0")/.."

sizes="1000 2500 5000 10000 20000"
rounds=3
bin=$PWD/${NORVA_BUILD:-build}/bin
nvspool=$bin/nvspool
while [ $# -gt 0 ]; do
  case $1 in
    --sizes) sizes=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    --nvspool) nvspool=$(readlink -f "$2"); shift 2 ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "ports-scale.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
for tool in "$bin/nvreg" "$nvspool"; do
  [ -x "$tool" ] || { echo "ports-scale.sh: no $tool (build first)" >&2; exit 1; }
done
for tool in sqlite3 /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "ports-scale.sh: $tool is missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/norva-bench-ports-XXXXXX)
trap 'rm -rf "$work"' EXIT
ports_key='HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Control\Print\Monitors\NORVA TCP/IP Port\Ports'

# N ports NORVA_10.a.b.c, as an administrator's .reg file would hold them (UTF-8).
generate() {
  awk -v n="$1" -v key="$ports_key" 'BEGIN {
    printf "Windows Registry Editor Version 5.00\r\n\r\n[%s]\r\n\r\n", key
    for (i = 0; i < n; i++) {
      ip = sprintf("10.%d.%d.%d", int(i / 65536) % 256, int(i / 256) % 256, i % 256)
      printf "[%s\\NORVA_%s]\r\n\"IPAddress\"=\"%s\"\r\n\"HostName\"=\"\"\r\n\"HWAddress\"=\"\"\r\n\r\n", key, ip, ip
    }
  }'
}
last_port() {
  awk -v n="$1" 'BEGIN { i = n - 1; printf "NORVA_10.%d.%d.%d", int(i / 65536) % 256, int(i / 256) % 256, i % 256 }'
}

# Runs a command with its output discarded; prints "wall-seconds cpu-seconds peak-MiB" (the
# wall time to the millisecond; CPU is user + system, which a busy machine inflates less).
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%U %S %M' -o "$work/time" "$@" > /dev/null 2> "$work/last.err" || {
    echo "ports-scale.sh: failed: $* ($(cat "$work/last.err"))" >&2
    exit 1
  }
  end=$(date +%s%N)
  tail -n 1 "$work/time" | awk -v ns=$((end - start)) '{ printf "%.3f %.2f %.1f\n", ns / 1e9, $1 + $2, $3 / 1024 }'
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# The names of the ports as the store holds them, read with SQLite alone. A key's fold is its
# upper-cased name in UTF-16BE: here "NORVA TCP/IP PORT" and "PORTS".
peer_query="SELECT name FROM keys WHERE parent = (SELECT id FROM keys
  WHERE fold = X'0050004F005200540053' AND parent = (SELECT id FROM keys
  WHERE fold = X'004E004F0052005600410020005400430050002F0049005000200050004F00520054'))
  ORDER BY fold"

echo "== nvspool: $nvspool ($rounds rounds; medians of whole runs, seconds)"
printf '%7s %8s %8s %8s %8s %8s %8s %9s %9s\n' ports import ports show add delete peer \
  'ports-cpu' 'peak-MiB'
first=""
for n in $sizes; do
  export NORVA_REGISTRY=$work/store-$n.db
  generate "$n" > "$work/ports-$n.reg"
  read -r import_s _ < <(measure "$bin/nvreg" import "$work/ports-$n.reg")
  last=$(last_port "$n")
  for op in ports show add delete peer; do : > "$work/$op.times"; done
  : > "$work/ports.cpu"
  : > "$work/ports.mem"
  for _ in $(seq "$rounds"); do
    read -r t cpu mem < <(measure "$nvspool" ports)
    echo "$t" >> "$work/ports.times"; echo "$cpu" >> "$work/ports.cpu"; echo "$mem" >> "$work/ports.mem"
    measure "$nvspool" show-port "$last" | cut -d' ' -f1 >> "$work/show.times"
    measure "$nvspool" add-port BENCH_NEW --ip 10.255.255.254 | cut -d' ' -f1 >> "$work/add.times"
    measure "$nvspool" delete-port BENCH_NEW | cut -d' ' -f1 >> "$work/delete.times"
    measure sqlite3 "$NORVA_REGISTRY" "$peer_query" | cut -d' ' -f1 >> "$work/peer.times"
  done
  listed=$("$nvspool" ports | grep -c '^NORVA_' || true)
  peer_rows=$(sqlite3 "$NORVA_REGISTRY" "$peer_query" | wc -l)
  [ "$listed" -eq "$n" ] && [ "$peer_rows" -eq "$n" ] || {
    echo "ports-scale.sh: nvspool listed $listed, sqlite3 read $peer_rows of $n ports" >&2
    exit 1
  }
  line="$n $import_s"
  for op in ports show add delete peer; do line="$line $(median < "$work/$op.times")"; done
  line="$line $(median < "$work/ports.cpu") $(median < "$work/ports.mem")"
  echo "$line" >> "$work/table"
  # shellcheck disable=SC2086 # one figure per %s
  printf '%7d %8.3f %8.3f %8.3f %8.3f %8.3f %8.3f %9.2f %9.1f\n' $line
  [ -n "$first" ] || first=$line
  rm -f "$NORVA_REGISTRY" "$work/ports-$n.reg"
done

echo
echo "== Growth: time per port at N / time per port at $(echo "$first" | cut -d' ' -f1) (1.00 = linear)"
printf '%7s %8s %8s %8s %8s %8s %8s %9s\n' ports import ports show add delete peer ports-cpu
awk -v first="$first" 'BEGIN { split(first, f, " ") }
  { printf "%7d", $1
    for (i = 2; i <= 7; i++) printf " %8.2f", (f[i] > 0 ? ($i / $1) / (f[i] / f[1]) : 0)
    printf " %9.2f", (f[8] > 0 ? ($8 / $1) / (f[8] / f[1]) : 0)
    printf "\n" }' "$work/table"
echo
echo "== nvspool ports / peer (the same keys read by sqlite3 alone)"
awk '{ printf "%7d %8.1f\n", $1, ($7 > 0 ? $3 / $7 : 0) }' "$work/table"
echo "   (the machine has $(nproc) CPUs; load average $(cut -d' ' -f1-3 /proc/loadavg))"
