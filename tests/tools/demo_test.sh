#!/usr/bin/env bash
# scripts/demo.sh runs to its end with the tools of a build directory (or of an installation,
# NORVA_BIN) and leaves none of the simulators it started running.
#
#   tests/tools/demo_test.sh BIN_DIR
set -uo pipefail
bin=$1
out=$(mktemp /tmp/norva-demo-test-XXXXXX)
trap 'rm -f "$out"' EXIT
NORVA_BIN=$bin bash "$(dirname "$0")/../../scripts/demo.sh" >"$out" 2>&1
rc=$?
if [ "$rc" -ne 0 ]; then
  tail -20 "$out"
  echo "FAILED: the demo ended with exit code $rc"
  exit 1
fi
dir=$(grep -o '/tmp/norva-demo-[A-Za-z0-9]*' "$out" | head -1)
if [ -z "$dir" ]; then
  echo "FAILED: the demo did not print the jobs' files"
  exit 1
fi
sleep 0.2
left=$(pgrep -af -- "$dir" || true)
if [ -n "$left" ]; then
  echo "FAILED: the demo left simulators running: $left"
  exit 1
fi
[ -e "$dir" ] && { echo "FAILED: the demo left $dir behind"; exit 1; }
echo "ok: the demo ran through and left nothing running ($(grep -c '^.\[1m==' "$out") steps)"
