#!/usr/bin/env bash
# Background programs of the scripts that run the wizards and Win32 programs: stopping one,
# waiting for what it prints, an X server of the script's own. Source it (wine-env.sh does).

# stop_process PID: ends a background program and reaps it; an empty PID does nothing.
stop_process() {
  if [ -n "$1" ]; then
    kill "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
  fi
}

# wait_for_output FILE PATTERN: waits up to five seconds until FILE has a line matching
# PATTERN; fails if none comes.
wait_for_output() {
  for _ in $(seq 100); do
    grep -q "$2" "$1" 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# start_xvfb WORK SCREEN: an X server (Xvfb, 96 dpi, screen WIDTHxHEIGHTxDEPTH) on a free display,
# its log in WORK/xvfb.log. Sets xvfb to its process id and display to its name (":N") once it
# accepts clients; stops the script with the server's log if it ends first.
start_xvfb() {
  # Xvfb picks a free display itself and writes its number to fd 3 once it accepts clients.
  Xvfb -displayfd 3 -screen 0 "$2" -dpi 96 -nolisten tcp 3>"$1/display" 2>"$1/xvfb.log" &
  xvfb=$!
  for _ in $(seq 100); do
    [ -s "$1/display" ] && break
    kill -0 "$xvfb" 2>/dev/null || { cat "$1/xvfb.log" >&2; exit 1; }
    sleep 0.05
  done
  display=:$(head -n1 "$1/display")
}
