#!/usr/bin/env bash
# LPR through the monitor against LPRng's own client, both sending the same file to the same
# LPRng server in one run.
#
# A 256 MiB job (by default) goes to a file queue of an lpd started for the run on a loopback
# port, in alternating rounds: `nvspool print` through an LPR port (the monitor spools the job,
# then holds the whole RFC 1179 conversation from a port in 721..731) and
# `lpr -P queue@127.0.0.1%PORT`. Each round waits until LPRng has printed the job to its file
# and checks its size, so a job that LPRng took but dropped cannot pass for a fast one. Prints
# the median wall time and CPU seconds of each client and the time ratio.
#
# Usage: bench/lpr-lprng.sh [--size MIB] [--rounds N]
# Environment: NORVA_BUILD (the build tree, default build). Needs root and lprng.
# /etc/lprng/lpd.conf is replaced for the run and put back afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

size_mib=256
rounds=3
while [ $# -gt 0 ]; do
  case $1 in
    --size) size_mib=$2; shift 2 ;;
    --rounds) rounds=$2; shift 2 ;;
    -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "lpr-lprng.sh: unknown option $1" >&2; exit 2 ;;
  esac
done

build=${NORVA_BUILD:-build}
case $build in /*) ;; *) build=$PWD/$build ;; esac
bin=$build/bin
[ -x "$bin/nvspool" ] || { echo "lpr-lprng.sh: no $bin/nvspool (build first)" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || { echo "lpr-lprng.sh: needs root (lpd, /etc/lprng, ports 721..731)" >&2; exit 1; }
for program in /usr/sbin/lpd /usr/sbin/checkpc /usr/bin/lpr /usr/bin/lpq; do
  [ -x "$program" ] || { echo "lpr-lprng.sh: LPRng is missing (apt-get install lprng)" >&2; exit 1; }
done

conf=/etc/lprng/lpd.conf
saved=$conf.norva-saved
marker='# Written for one run of a NORVA LPRng test or benchmark; the original is in '
work=$(mktemp -d /tmp/norva-bench-lpr-XXXXXX)
chmod 755 "$work"
wrapper_pid=
had_conf=
# A run that died before restoring left the original beside ours: put it back first.
if [ -e "$saved" ]; then
  mv -f "$saved" "$conf"
elif head -n 1 "$conf" 2> /dev/null | grep -qF "$marker"; then
  rm -f "$conf"
fi
cleanup() {
  if [ -n "$wrapper_pid" ]; then
    # lpd runs as the first process of a PID namespace of its own, so stopping it by its pid
    # ends and reaps every process it started.
    lpd_pid=$(cat "/proc/$wrapper_pid/task/$wrapper_pid/children" 2> /dev/null || true)
    [ -n "$lpd_pid" ] && kill -TERM "$lpd_pid" 2> /dev/null
    wait "$wrapper_pid" 2> /dev/null || true
  fi
  if [ -n "$had_conf" ]; then mv -f "$saved" "$conf"; else rm -f "$conf"; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A loopback port that nothing listens on.
port=
while [ -z "$port" ]; do
  port=$((20000 + RANDOM % 30000))
  if (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; then port=; fi
done
queue=raw
output=$work/out/$queue.prn
mkdir -p "$work/spool/$queue" "$work/out" "$work/run"
: > "$output"
echo "$queue:sd=$work/spool/$queue:lp=$output:sh:mx=0" > "$work/printcap"
echo "DEFAULT ACCEPT" > "$work/lpd.perms"
chown -R daemon:lp "$work/spool" "$work/out" "$work/run"
if [ -e "$conf" ]; then had_conf=1; cp -p "$conf" "$saved"; fi
cat > "$conf.norva-new" <<EOF
$marker$saved
lpd_listen_port=127.0.0.1%$port
lpd_port=127.0.0.1%$port
lockfile=$work/run/lpd
unix_socket_path=off
printcap_path=$work/printcap
lpd_printcap_path=$work/printcap
perms_path=$work/lpd.perms
originate_port=721 731
EOF
mv -f "$conf.norva-new" "$conf"
checkpc -f > "$work/checkpc.log" 2>&1 || { cat "$work/checkpc.log" >&2; exit 1; }
unshare --pid --fork /usr/sbin/lpd -F > "$work/lpd.log" 2>&1 &
wrapper_pid=$!
for _ in $(seq 500); do
  (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null && break
  sleep 0.01
done

export NORVA_REGISTRY=$work/registry.db
"$bin/nvspool" add-port LPRNG --ip 127.0.0.1 --lpr --queue "$queue" --port-number "$port" \
  --timeout 60000 > /dev/null
bytes=$((size_mib * 1024 * 1024))
head -c "$bytes" /dev/urandom > "$work/job.prn"

measure() {
  local TIMEFORMAT='%R %U %S'
  { time "$@" > /dev/null 2> "$work/last.err"; } 2>&1 || {
    echo "lpr-lprng.sh: failed: $* ($(cat "$work/last.err"))" >&2
    exit 1
  }
}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Waits until LPRng has printed the job whole, then empties the queue's file for the next.
printed() {
  local what=$1
  for _ in $(seq 3000); do
    [ "$(stat -c %s "$output")" -ge "$bytes" ] &&
      lpq -P "$queue@127.0.0.1%$port" 2> /dev/null | grep -q 'Server: no server active' && break
    sleep 0.01
  done
  local got
  got=$(stat -c %s "$output")
  if [ "$got" -ne "$bytes" ]; then
    echo "lpr-lprng.sh: LPRng printed $got of the $bytes bytes of the $what job" >&2
    lpq -P "$queue@127.0.0.1%$port" >&2 || true
    exit 1
  fi
  cmp -s "$output" "$work/job.prn" || { echo "lpr-lprng.sh: the $what job came out changed" >&2; exit 1; }
  : > "$output"
}

echo "== One ${size_mib} MiB job, ${rounds} rounds each, to LPRng's lpd on 127.0.0.1:$port (queue $queue, lp= a file)"
echo "   monitor: $bin/nvspool print --quiet --port LPRNG --job-id N job.prn"
echo "   peer:    lpr -P $queue@127.0.0.1%$port job.prn"
: > "$work/nvspool.times"
: > "$work/lpr.times"
for round in $(seq "$rounds"); do
  t=$(measure "$bin/nvspool" print --quiet --port LPRNG --job-id $((100 + round)) "$work/job.prn")
  printed monitor
  echo "$t" >> "$work/nvspool.times"
  u=$(measure lpr -P "$queue@127.0.0.1%$port" "$work/job.prn")
  printed lpr
  echo "$u" >> "$work/lpr.times"
  # shellcheck disable=SC2086 # each of t and u is three figures, one per %s
  printf '   round %d: nvspool %s s (user %s, sys %s); lpr %s s (user %s, sys %s)\n' "$round" $t $u
done
nv_real=$(awk '{ print $1 }' "$work/nvspool.times" | median)
nv_cpu=$(awk '{ print $2 + $3 }' "$work/nvspool.times" | median)
lpr_real=$(awk '{ print $1 }' "$work/lpr.times" | median)
lpr_cpu=$(awk '{ print $2 + $3 }' "$work/lpr.times" | median)
awk -v a="$nv_real" -v b="$lpr_real" -v c="$nv_cpu" -v d="$lpr_cpu" -v mib="$size_mib" 'BEGIN {
  printf "   nvspool  median %.3f s  %7.1f MiB/s  CPU %.3f s\n", a, mib / a, c
  printf "   lpr      median %.3f s  %7.1f MiB/s  CPU %.3f s\n", b, mib / b, d
  printf "   time nvspool/lpr = %.2f\n", a / b }'
