#!/usr/bin/env bash
# The demo: ports created with the registry tool and through the monitor's Xcv channel, listed
# as the spooler lists them, and a document printed through the monitor to the printer
# simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=$PWD/build/bin
demo=$(mktemp -d /tmp/norva-demo-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$demo"
}
trap cleanup EXIT
export NORVA_REGISTRY=$demo/registry.db
ports='HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\NORVA TCP/IP Port\Ports'

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

# Starts a simulator mode in the background and prints the port it listens on.
simulator() {
  local name=$1; shift
  "$bin/nvprinter" "$@" > "$demo/$name.out" 2> "$demo/$name.log" &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q 'listening on' "$demo/$name.out" 2>/dev/null && break
    sleep 0.05
  done
  sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$demo/$name.out"
}

step "The printer simulator's raw TCP port on 127.0.0.1"
raw_port=$(simulator raw raw --listen 127.0.0.1:0 --out "$demo/raw-jobs")
echo "listening on 127.0.0.1:$raw_port"

step "The printer simulator's line printer daemon on 127.0.0.1"
lpd_port=$(simulator lpd lpd --listen 127.0.0.1:0 --out "$demo/lpd-jobs")
echo "listening on 127.0.0.1:$lpd_port"

step "Ports created with nvreg (as an installer writes them)"
for p in NORVA_192.168.0.20 NORVA_10.0.0.5; do
  for value in "IPAddress ${p#NORVA_}" "HostName" "HWAddress"; do
    set -- $value
    "$bin/nvreg" add "$ports\\$p" /v "$1" /t REG_SZ /d "${2:-}" /f >/dev/null
  done
done
"$bin/nvreg" query "$ports\\NORVA_192.168.0.20"

step "A port added through the monitor's Xcv channel (nvspool add-port)"
"$bin/nvspool" add-port DEMO_RAW --ip 127.0.0.1 --port-number "$raw_port" --timeout 5000
"$bin/nvspool" show-port DEMO_RAW

step "The ports as the spooler lists them (nvspool ports)"
"$bin/nvspool" ports

step "A document printed through the monitor by raw TCP"
printf 'NORVA demo page\r\nprinted %s\r\n\f' "$(date)" > "$demo/page.prn"
"$bin/nvspool" print --port DEMO_RAW --document "Demo page" "$demo/page.prn"
for _ in $(seq 100); do [ -s "$demo/raw-jobs/job-0001.prn" ] && break; sleep 0.05; done
cat "$demo/raw.log"
if cmp -s "$demo/page.prn" "$demo/raw-jobs/job-0001.prn"; then
  echo "the printer received the document byte for byte ($(wc -c < "$demo/page.prn") bytes)"
else
  echo "the printer's copy differs" >&2
  exit 1
fi

step "The same document by LPR (spooled, then sent from a local port in 721..731)"
"$bin/nvspool" add-port DEMO_LPR --ip 127.0.0.1 --lpr --queue demo --port-number "$lpd_port"
"$bin/nvspool" print --port DEMO_LPR --document "Demo page" --user demo "$demo/page.prn"
for _ in $(seq 100); do [ -s "$demo/lpd-jobs/job-0001.df" ] && break; sleep 0.05; done
cat "$demo/lpd.log"
echo "control file:"
sed 's/^/    /' "$demo/lpd-jobs/job-0001.cf"
if cmp -s "$demo/page.prn" "$demo/lpd-jobs/job-0001.df"; then
  echo "the daemon received the data file byte for byte"
else
  echo "the daemon's copy differs" >&2
  exit 1
fi

step "Discovery: the simulator answers SNMP as a printer on 127.0.0.77"
if [ "$(id -u)" -ne 0 ]; then
  echo "(skipped: an SNMP agent on UDP port 161 needs root)"
  exit 0
fi
simulator snmp snmp --listen 127.0.0.77:161 --description "NORVA Demo Printer" \
  --mac 0060b08fbb49 --mask 255.0.0.0 --gateway 127.0.0.1 >/dev/null
"$bin/nvdiscover" --ip 127.0.0.77
"$bin/nvdiscover" --ip 127.0.0.77 --json

step "The installer: the search-by-address wizard finds it and writes its port"
echo "(the Qt wizard, offscreen, walked through by nvinstall-run's autopilot)"
QT_QPA_PLATFORM=offscreen "$bin/nvinstall-run" byip --autopilot ip=127.0.0.77,next,next
"$bin/nvspool" ports | grep -E "PORT|NORVA_127.0.0.77"
"$bin/nvspool" show-port NORVA_127.0.0.77
