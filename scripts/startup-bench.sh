#!/bin/bash
# Start to first paint of the main window, as the median of RUNS starts
# (default 10), in two set-ups side by side: the machine's serial ports as
# they are, and the same plus a silent serial device (a pseudo-terminal that
# never answers) named by DIALSCOPE_MODEMS. Also reports when the modem
# search ended (the line opens right after it).
#
#   scripts/startup-bench.sh [RUNS]
#
# Runs build/app/dialscope /Embedding on a private Xvfb display with a fresh
# settings folder per start; the program writes both moments to its log
# (category dialscope.startup), as wall-clock milliseconds, and this script
# subtracts the moment it started the process. The CPU time (user + system)
# to the first paint is reported too: it depends far less on other load.
# DIALSCOPE_STARTUP_TRACE=1 prints every start's trace lines to stderr.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-10}
program=${DIALSCOPE_BIN:-build/app/dialscope}
[ -x "$program" ] || { echo "build the program first ($program)" >&2; exit 1; }
command -v Xvfb >/dev/null || { echo "Xvfb is needed" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

display=:$((200 + RANDOM % 500))
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
sleep 0.5

# The silent device: a pseudo-terminal whose other side is held open and
# never written.
python3 -c '
import os, sys, time
master, slave = os.openpty()
os.symlink(os.ttyname(slave), sys.argv[1])
os.close(slave)
while True:
    time.sleep(3600)
' "$work/silent" &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/silent" ] && break; sleep 0.05; done

median() { sort -n | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }

# One start: prints "paint_ms modems_ms".
start_once() {
  local modems=$1 dir log started
  dir=$(mktemp -d "$work/run.XXXX")
  log="$dir/log"
  started=$(date +%s%3N)
  env DISPLAY="$display" QT_QPA_PLATFORM=xcb DIALSCOPE_REGISTRY_DIR="$dir" \
      QT_LOGGING_RULES="dialscope.startup.info=true" ${modems:+DIALSCOPE_MODEMS="$modems"} \
      "$program" /Embedding 2>"$log" &
  local pid=$!
  for _ in $(seq 200); do
    grep -q "modems found at" "$log" 2>/dev/null && grep -q "first paint at" "$log" && break
    sleep 0.05
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  local paint found cpu
  paint=$(sed -n 's/.*first paint at \([0-9]*\) ms.*/\1/p' "$log" | head -1)
  found=$(sed -n 's/.*modems found at \([0-9]*\) ms.*/\1/p' "$log" | head -1)
  cpu=$(sed -n 's/.*first paint at .*(cpu \([0-9]*\) ms).*/\1/p' "$log" | head -1)
  [ -n "${DIALSCOPE_STARTUP_TRACE:-}" ] && sed -n 's/.*dialscope.startup: //p' "$log" >&2
  echo "$((${paint:-0} - started)) $((${found:-0} - started)) ${cpu:-0}"
}

for setup in plain silent; do
  modems=""
  [ "$setup" = silent ] && modems="$work/silent"
  : >"$work/result-$setup"
  for _ in $(seq "$runs"); do start_once "$modems" >>"$work/result-$setup"; done
  paint=$(cut -d' ' -f1 "$work/result-$setup" | median)
  found=$(cut -d' ' -f2 "$work/result-$setup" | median)
  cpu=$(cut -d' ' -f3 "$work/result-$setup" | median)
  printf '%-28s first paint %6s ms (cpu %4s ms)   modem search over %6s ms   (median of %s)\n' \
    "$([ "$setup" = silent ] && echo 'with a silent device:' || echo 'ports as they are:')" "$paint" "$cpu" "$found" "$runs"
done
