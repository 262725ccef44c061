#!/usr/bin/env bash
# Discovery benchmark (root): wall time of one broadcast search with 0, 2 and 20 answering
# printers and how many each run found (a range when runs differ), and of the queries of one
# printer against net-snmp's snmpd, beside net-snmp's own tools doing the same reads.
#
#   bash bench/discovery_bench.sh            # build/bin, 5 runs per figure (3 for 0 printers)
#   RUNS=7 bash bench/discovery_bench.sh     # 7 runs per figure (still 3 for 0 printers)
#   RUNS=9 BIN=build-release/bin bash bench/discovery_bench.sh
#
# Everything runs in network namespaces made for the run (the broadcast lab: a client at
# 192.168.77.1 on a bridge, printer k at 192.168.77.(10+k)); nothing is sent anywhere else.
# Figures are medians of whole process runs, measured inside the client namespace.
set -euo pipefail
self=$(readlink -f "$0")
cd "$(dirname "$self")/.."
bin=$(readlink -f "${BIN:-build/bin}")
export BIN=$bin
runs=${RUNS:-5}

# --- Inner mode: run inside the client namespace, print the median milliseconds ---
if [ "${1:-}" = "__time" ]; then
  shift
  n=$1; shift
  what=$1; shift
  target=${1:-}
  netsnmp() {
    MIBS= snmpget -v1 -c commro -On "$target" .1.3.6.1.2.1.2.2.1.6.1
    MIBS= snmpwalk -v1 -c commro -On "$target" .1.3.6.1.2.1.25.3.2.1.2
    MIBS= snmpgetnext -v1 -c commro -On "$target" .1.3.6.1.2.1.25.3.2.1.3.327680 \
      .1.3.6.1.2.1.4.20.1.3 .1.3.6.1.2.1.4.21.1.7
  }
  : > /tmp/nvbench-found.$$
  for _ in $(seq "$n"); do
    start=$(date +%s%N)
    case $what in
      search)
        "$bin/nvdiscover" --json > /tmp/nvbench-search.$$ 2>/dev/null || true
        grep -c '"address"' /tmp/nvbench-search.$$ >> /tmp/nvbench-found.$$ || true ;;
      query) "$bin/nvdiscover" --ip "$target" > /dev/null 2>&1 ;;
      netsnmp) netsnmp > /dev/null 2>&1 ;;
    esac
    end=$(date +%s%N)
    echo $(( (end - start) / 1000 ))
  done | sort -n | awk '{ t[NR] = $1 } END {
    m = (NR % 2) ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2
    printf "%.1f\n", m / 1000 }'
  if [ "$what" = search ]; then
    # The fewest and the most printers found in one run.
    sort -n /tmp/nvbench-found.$$ | sed -n '1p;$p' | paste -sd- | sed 's/^\([0-9]*\)-\1$/\1/' >&2
    rm -f /tmp/nvbench-search.$$
  fi
  rm -f /tmp/nvbench-found.$$
  exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
  echo "discovery_bench.sh: run as root (it builds network namespaces)" >&2
  exit 1
fi
for tool in "$bin/nvdiscover" "$bin/nvprinter"; do
  [ -x "$tool" ] || { echo "discovery_bench.sh: $tool is missing; build first" >&2; exit 1; }
done
command -v snmpd > /dev/null || { echo "discovery_bench.sh: snmpd is missing" >&2; exit 1; }

prefix=nvb$$
cli=${prefix}c
namespaces=()
pids=()
work=$(mktemp -d /tmp/nvbench-XXXXXX)
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  for ns in "${namespaces[@]}"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The client namespace and printer namespaces 1..$1 (kept from an earlier call).
printers=0
lab() {
  if [ ${#namespaces[@]} -eq 0 ]; then
    ip netns add "$cli"; namespaces+=("$cli")
    ip -n "$cli" link set lo up
    # A fixed address: a bridge that takes the lowest of its ports' addresses would change it
    # when printers 3 to 20 join, and the printers that knew the old one would lose their
    # answers to the next search until their ARP entries expire.
    ip -n "$cli" link add br0 address 02:00:00:00:77:01 type bridge
    ip -n "$cli" addr add 192.168.77.1/24 brd 192.168.77.255 dev br0
    ip -n "$cli" link set br0 up
    ip -n "$cli" route add default dev br0
  fi
  while [ "$printers" -lt "$1" ]; do
    printers=$((printers + 1))
    local k=$printers ns=${prefix}p$printers
    ip netns add "$ns"; namespaces+=("$ns")
    ip -n "$ns" link set lo up
    ip link add "v$k" netns "$ns" type veth peer name "v${k}b" netns "$cli"
    ip -n "$ns" addr add "192.168.77.$((10 + k))/24" brd 192.168.77.255 dev "v$k"
    ip -n "$ns" link set "v$k" up
    ip -n "$ns" route add default via 192.168.77.1
    ip -n "$cli" link set "v${k}b" master br0
    ip -n "$cli" link set "v${k}b" up
  done
}

# The simulator in printer namespace $1.
simulate() {
  local ns=${prefix}p$1 out=$work/sim$1.out
  ip netns exec "$ns" "$bin/nvprinter" snmp --listen 0.0.0.0:161 --quiet \
    --gateway 192.168.77.1 --mac "$(printf '0200000000%02x' "$1")" > "$out" 2>&1 &
  pids+=($!)
  for _ in $(seq 500); do grep -qs 'listening on' "$out" && return 0; sleep 0.01; done
  echo "discovery_bench.sh: the simulator in $ns did not start" >&2
  exit 1
}

search() {  # $1 printers answering
  local found ms
  ms=$(ip netns exec "$cli" bash "$self" __time "$2" search 2> "$work/found")
  found=$(cat "$work/found")
  printf '  %2d answering printers: %8.1f ms   (%s found in each run, median of %d runs)\n' \
    "$1" "$ms" "$found" "$2"
}

echo "Broadcast search (nvdiscover --json: broadcast, then the queries of every printer found)"
lab 0
search 0 $(( runs < 3 ? runs : 3 ))
lab 2
simulate 1; simulate 2
search 2 "$runs"
lab 20
for k in $(seq 3 20); do simulate "$k"; done
search 20 "$runs"

# snmpd as printer 21, alone on its segment's broadcast: only directed requests reach it here.
echo
echo "One printer's queries against net-snmp's snmpd (192.168.77.31)"
lab 21
mkdir -p "$work/snmpd"
cat > "$work/snmpd/snmpd.conf" <<'EOF'
agentAddress udp:161
rocommunity commro default
override 1.3.6.1.2.1.43.5.1.1.1.1 counter 7
override 1.3.6.1.2.1.2.2.1.6.1 octet_str 0x0200000000ff
override 1.3.6.1.2.1.25.3.2.1.1.327681 integer 327681
override 1.3.6.1.2.1.25.3.2.1.2.327681 object_id 1.3.6.1.2.1.25.3.1.5
override 1.3.6.1.2.1.25.3.2.1.3.327681 octet_str "Lab Printer 1"
EOF
MIBS= SNMP_PERSISTENT_DIR=$work/snmpd ip netns exec "${prefix}p21" snmpd -f -C \
  -c "$work/snmpd/snmpd.conf" -p "$work/snmpd/pid" -Lf "$work/snmpd/log" &
pids+=($!)
for _ in $(seq 500); do grep -qs 'NET-SNMP version' "$work/snmpd/log" && break; sleep 0.01; done
ours=$(ip netns exec "$cli" bash "$self" __time "$runs" query 192.168.77.31)
theirs=$(ip netns exec "$cli" bash "$self" __time "$runs" netsnmp 192.168.77.31)
printf '  nvdiscover --ip (one QueryPrinter):            %8.1f ms\n' "$ours"
printf '  snmpget + snmpwalk + snmpgetnext (same reads): %8.1f ms\n' "$theirs"
awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "  ratio net-snmp / nvdiscover: %.2f\n", b / a }'
