#!/bin/bash
# Captures SNMPv1 exchanges between net-snmp's tools and snmpd on loopback and prints each
# datagram as hex, for the byte-for-byte constants in netsnmp_wire_test.cpp. Run as root with
# snmpd, snmp and tshark installed. Only 127.0.0.1 is used.
set -euo pipefail

PORT=${PORT:-16100}
D=$(mktemp -d)
trap 'kill "$SNMPD" "$TSHARK" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$D"' EXIT

cat >"$D/snmpd.conf" <<CONF
agentAddress udp:127.0.0.1:$PORT
rocommunity commro default
override 1.3.6.1.2.1.43.5.1.1.1.1 counter 7
override 1.3.6.1.2.1.2.2.1.6.1 octet_str 0x020000000001
override 1.3.6.1.2.1.25.3.2.1.1.327681 integer 327681
override 1.3.6.1.2.1.25.3.2.1.2.327681 object_id 1.3.6.1.2.1.25.3.1.5
override 1.3.6.1.2.1.25.3.2.1.3.327681 octet_str "Lab Printer 1"
override 1.3.6.1.4.1.99999.1.1.0 integer -129
override 1.3.6.1.4.1.99999.1.2.0 integer -2147483648
override 1.3.6.1.4.1.99999.1.3.0 integer 2147483647
override 1.3.6.1.4.1.99999.1.4.0 counter 4294967295
override 1.3.6.1.4.1.99999.1.5.0 uinteger 128
override 1.3.6.1.4.1.99999.1.6.0 object_id 2.999.4294967295.16383
override 1.3.6.1.4.1.99999.1.7.0 octet_str "$(printf 'x%.0s' $(seq 1 200))"
override 1.3.6.1.4.1.99999.1.8.0 null 0
CONF

MIBS= SNMP_PERSISTENT_DIR="$D" snmpd -f -C -c "$D/snmpd.conf" -p "$D/pid" -Lf "$D/log" &
SNMPD=$!
tshark -i lo -f "udp port $PORT" -l -T fields -e udp.srcport -e udp.payload 2>"$D/tshark.err" \
    >"$D/capture" &
TSHARK=$!
until grep -q "Capturing on" "$D/tshark.err"; do sleep 0.1; done
sleep 0.5

A=127.0.0.1:$PORT
run() { echo "# $*" >>"$D/commands"; "$@" >>"$D/commands" 2>&1 || true; sleep 0.2; }
run snmpget -v1 -c commro -On -r0 "$A" 1.3.6.1.2.1.2.2.1.6.1
run snmpgetnext -v1 -c commro -On -r0 "$A" 1.3.6.1.2.1.43
run snmpget -v1 -c commro -On -r0 "$A" 1.3.6.1.2.1.25.3.2.1.1.327681 \
    1.3.6.1.2.1.25.3.2.1.2.327681 1.3.6.1.2.1.25.3.2.1.3.327681
run snmpget -v1 -c commro -On -r0 "$A" 1.3.6.1.2.1.4.20.1.3.127.0.0.1 1.3.6.1.2.1.1.3.0
run snmpget -v1 -c commro -On -r0 "$A" 1.3.6.1.4.1.99999.1.1.0 1.3.6.1.4.1.99999.1.2.0 \
    1.3.6.1.4.1.99999.1.3.0 1.3.6.1.4.1.99999.1.4.0 1.3.6.1.4.1.99999.1.5.0 \
    1.3.6.1.4.1.99999.1.6.0 1.3.6.1.4.1.99999.1.8.0
run snmpget -v1 -c commro -On -r0 "$A" 1.3.6.1.4.1.99999.1.7.0
run snmpget -v1 -c commro -On -r0 "$A" 1.3.6.1.2.1.2.2.1.6.1 1.3.6.1.2.1.43.99.0
run snmpgetnext -v1 -c commro -On -r0 "$A" 2.999
run snmpget -v1 -c wrong -On -r0 -t 0.3 "$A" 1.3.6.1.2.1.1.3.0
sleep 0.5
kill "$TSHARK"
wait "$TSHARK" 2>/dev/null || true
cat "$D/commands"
echo "# captured datagrams (source port, payload)"
cat "$D/capture"
