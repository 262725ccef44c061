#!/usr/bin/env bash
# The demo: a few ports created with the registry tool, listed through the spooler host, and a
# document printed through the monitor to a printer listening on loopback.
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/bin
demo=$(mktemp -d /tmp/norva-demo-XXXXXX)
trap 'kill $printer 2>/dev/null || true; rm -rf "$demo"' EXIT
export NORVA_REGISTRY=$demo/registry.db
ports='HKLM\SYSTEM\CurrentControlSet\Control\Print\Monitors\NORVA TCP/IP Port\Ports'

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "A listening printer on 127.0.0.1 (a tiny raw TCP sink)"
python3 - "$demo" <<'PY' &
import socket, sys, os
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 0)); s.listen(4)
open(os.path.join(sys.argv[1], "port"), "w").write(str(s.getsockname()[1]))
n = 0
while True:
    c, _ = s.accept(); n += 1
    with open(os.path.join(sys.argv[1], "job-%d.prn" % n), "wb") as f:
        while True:
            d = c.recv(65536)
            if not d: break
            f.write(d)
    c.close()
PY
printer=$!
for _ in $(seq 50); do [ -s "$demo/port" ] && break; sleep 0.1; done
port=$(cat "$demo/port")
echo "listening on 127.0.0.1:$port"

step "Ports created with nvreg"
for p in NORVA_127.0.0.1 NORVA_192.168.0.20 NORVA_10.0.0.5; do
  address=${p#NORVA_}
  "$bin/nvreg" add "$ports\\$p" /v IPAddress /t REG_SZ /d "$address" /f >/dev/null
  "$bin/nvreg" add "$ports\\$p" /v HostName /t REG_SZ /d "" /f >/dev/null
  "$bin/nvreg" add "$ports\\$p" /v HWAddress /t REG_SZ /d "" /f >/dev/null
done
"$bin/nvreg" add "$ports\\NORVA_127.0.0.1" /v PortNumber /t REG_DWORD /d "$port" /f >/dev/null
"$bin/nvreg" query "$ports\\NORVA_127.0.0.1"

step "The ports as the spooler lists them (nvspool ports)"
"$bin/nvspool" ports

step "A port added through the monitor (AddPortEx)"
"$bin/nvspool" add-port NORVA_172.16.0.9
"$bin/nvspool" ports --level 1

step "A document printed through the monitor (raw TCP)"
printf 'NORVA demo page\r\nprinted %s\r\n\f' "$(date)" > "$demo/page.prn"
"$bin/nvspool" print --port NORVA_127.0.0.1 "$demo/page.prn"
for _ in $(seq 50); do [ -s "$demo/job-1.prn" ] && break; sleep 0.1; done
if cmp -s "$demo/page.prn" "$demo/job-1.prn"; then
  echo "the printer received the document byte for byte ($(wc -c < "$demo/job-1.prn") bytes)"
else
  echo "the printer's copy differs" >&2
  exit 1
fi
