#!/usr/bin/env bash
# Builds Dialscope and starts it.
#
# When no modem is configured (DIALSCOPE_MODEMS unset) and none answers on the
# system's serial ports, the simulated site is started as a demo modem first
# and stopped again when Dialscope exits. Without a display (no DISPLAY or
# WAYLAND_DISPLAY) the program runs under xvfb-run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/install-deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target dialscope dialscope-sitesim

program=(build/app/dialscope)
sitesim=build/tools/sitesim/dialscope-sitesim

# Does any serial port answer "AT" with "OK"? Probed only when the system
# lists ports that exist as real devices.
modem_answers() {
  local port
  for port in /dev/ttyUSB* /dev/ttyACM* /dev/serial/by-id/*; do
    [ -c "$port" ] || continue
    if timeout 2 bash -c "exec 3<>'$port'; stty -F '$port' raw -echo 2>/dev/null; printf 'AT\r' >&3; \
        while read -r -t 1 line <&3; do case \$line in OK*) exit 0;; esac; done; exit 1" 2>/dev/null; then
      return 0
    fi
  done
  return 1
}

demo_pid=
demo_dir=
cleanup() {
  if [ -n "$demo_pid" ]; then
    kill "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
  fi
  if [ -n "$demo_dir" ]; then
    rm -rf "$demo_dir"
  fi
}
trap cleanup EXIT INT TERM

if [ -z "${DIALSCOPE_MODEMS:-}" ] && ! modem_answers; then
  # The session's private runtime folder; without one, a private 0700 folder
  # of our own, never fixed names in a folder every user can write.
  if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ]; then
    runtime=$XDG_RUNTIME_DIR
  else
    demo_dir=$(mktemp -d "${TMPDIR:-/tmp}/dialscope-demo.XXXXXXXX")
    chmod 0700 "$demo_dir"
    runtime=$demo_dir
  fi
  link="$runtime/dialscope-demo-modem"
  control="$runtime/dialscope-demo.sock"
  rm -f "$link" "$control"
  "$sitesim" --demo --link "$link" --control "$control" &
  demo_pid=$!
  for _ in $(seq 50); do
    [ -e "$link" ] && break
    sleep 0.1
  done
  export DIALSCOPE_MODEMS="$link"
  echo "No modem found: using the simulated site on $link (dial any number, user demo," \
       "password demo; dial 999 for a call back)."
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if command -v xvfb-run >/dev/null; then
    echo "No display: running under xvfb-run (nothing is visible; set DISPLAY to see the window)."
    program=(xvfb-run -a "${program[@]}")
  else
    echo "No display found. Set DISPLAY (or WAYLAND_DISPLAY), or install xvfb to run without one." >&2
    exit 1
  fi
fi

"${program[@]}" "$@"
