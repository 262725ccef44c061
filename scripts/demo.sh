#!/usr/bin/env bash
# The demo: ports created with the registry tool and through the monitor's Xcv channel, listed
# as the spooler lists them, a test page and a document printed through the monitor to the
# printer simulator, and (as root) discovery and the installer's wizard.
#
#   bash scripts/demo.sh            the tools of this tree's build (build/bin)
#   NORVA_BIN=/usr/bin bash demo.sh the tools of another place, such as the installed package
#
# Everything runs against a registry store of its own, and every simulator it starts is
# stopped again when it ends, however it ends.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
if [ -n "${NORVA_BIN:-}" ]; then
  bin=$NORVA_BIN
elif [ -x "$here/../build/bin/nvspool" ]; then
  bin=$(cd "$here/../build/bin" && pwd)
else
  bin=$(dirname "$(command -v nvspool)")
fi
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

# start_simulator NAME MODE ARGS...: starts a simulator mode in the background of this shell
# (so that the cleanup stops it) and waits until it listens.
start_simulator() {
  local name=$1; shift
  "$bin/nvprinter" "$@" > "$demo/$name.out" 2> "$demo/$name.log" &
  pids+=($!)
  for _ in $(seq 100); do
    grep -q 'listening on' "$demo/$name.out" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "the simulator $name did not start: $(cat "$demo/$name.log")" >&2
  exit 1
}

# listening_port NAME: the TCP port that the simulator NAME listens on.
listening_port() {
  sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$demo/$1.out"
}

# wait_for FILE: until the simulator has written the file.
wait_for() {
  for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.05; done
  return 1
}

echo "tools: $bin ($("$bin/nvspool" --version))"

step "The printer simulator's raw TCP port on 127.0.0.1"
start_simulator raw raw --listen 127.0.0.1:0 --out "$demo/raw-jobs"
raw_port=$(listening_port raw)
echo "listening on 127.0.0.1:$raw_port"

step "The printer simulator's line printer daemon on 127.0.0.1"
start_simulator lpd lpd --listen 127.0.0.1:0 --out "$demo/lpd-jobs"
lpd_port=$(listening_port lpd)
echo "listening on 127.0.0.1:$lpd_port"

step "Ports created with nvreg (as an installer writes them)"
for p in NORVA_192.168.0.20 NORVA_10.0.0.5; do
  for value in "IPAddress ${p#NORVA_}" "HostName" "HWAddress"; do
    set -- $value
    "$bin/nvreg" add "$ports\\$p" /v "$1" /t REG_SZ /d "${2:-}" /f >/dev/null
  done
done
"$bin/nvreg" query "$ports\\NORVA_192.168.0.20"

step "A port added through the monitor's Xcv channel (nvspool add)"
"$bin/nvspool" add DEMO_RAW --ip 127.0.0.1 --port-number "$raw_port" --timeout 5000
"$bin/nvspool" show DEMO_RAW

step "Input that would print to another printer is refused (127.0.0.010 is 127.0.0.8)"
"$bin/nvspool" add DEMO_OCTAL --ip 127.0.0.010 || true

step "The monitor's ports, and every port as the spooler lists them"
"$bin/nvspool" list --long
"$bin/nvspool" ports

step "A test page through the monitor by raw TCP"
"$bin/nvspool" test-page DEMO_RAW
wait_for "$demo/raw-jobs/job-0001.prn"
head -3 "$demo/raw-jobs/job-0001.prn" | tr -d '\r'

step "A document printed through the monitor by raw TCP"
printf 'NORVA demo page\r\nprinted %s\r\n\f' "$(date)" > "$demo/page.prn"
"$bin/nvspool" print --port DEMO_RAW --document "Demo page" "$demo/page.prn"
wait_for "$demo/raw-jobs/job-0002.prn"
cat "$demo/raw.log"
if cmp -s "$demo/page.prn" "$demo/raw-jobs/job-0002.prn"; then
  echo "the printer received the document byte for byte ($(wc -c < "$demo/page.prn") bytes)"
else
  echo "the printer's copy differs" >&2
  exit 1
fi

step "The same document by LPR (spooled, then sent from a local port in 721..731)"
"$bin/nvspool" add DEMO_LPR --ip 127.0.0.1 --lpr --queue demo --port-number "$lpd_port"
"$bin/nvspool" print --port DEMO_LPR --document "Demo page" --user demo "$demo/page.prn"
wait_for "$demo/lpd-jobs/job-0001.df"
cat "$demo/lpd.log"
echo "control file:"
sed 's/^/    /' "$demo/lpd-jobs/job-0001.cf"
if cmp -s "$demo/page.prn" "$demo/lpd-jobs/job-0001.df"; then
  echo "the daemon received the data file byte for byte"
else
  echo "the daemon's copy differs" >&2
  exit 1
fi

step "The ports kept in a .reg file, and brought back"
"$bin/nvspool" export "$demo/ports.reg"
"$bin/nvspool" delete DEMO_LPR
"$bin/nvspool" import "$demo/ports.reg"

step "Discovery: the simulator answers SNMP as a printer on 127.0.0.77"
if [ "$(id -u)" -ne 0 ]; then
  echo "(skipped: an SNMP agent on UDP port 161 needs root)"
  exit 0
fi
start_simulator snmp snmp --listen 127.0.0.77:161 --description "NORVA Demo Printer" \
  --mac 0060b08fbb49 --mask 255.0.0.0 --gateway 127.0.0.1
"$bin/nvdiscover" --ip 127.0.0.77
"$bin/nvdiscover" --ip 127.0.0.77 --json

step "The installer: the search-by-address wizard finds it and writes its port"
if ! [ -x "$bin/nvinstall-run" ]; then
  echo "(skipped: nvinstall-run is not installed beside the tools)"
  exit 0
fi
echo "(the Qt wizard, offscreen, walked through by nvinstall-run's autopilot)"
QT_QPA_PLATFORM=offscreen "$bin/nvinstall-run" byip --autopilot ip=127.0.0.77,next,next
"$bin/nvspool" ports | grep -E "PORT|NORVA_127.0.0.77"
"$bin/nvspool" show NORVA_127.0.0.77
