#!/usr/bin/env bash
# Builds the program and runs it against the simulated meter on a pseudo-terminal that stands in
# for serial port 1. Extra arguments go to the simulator (see build/qm7410-sim --help), for example
#   ./scripts/demo.sh --baud 19200 --parity E --address 5
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
./scripts/build.sh build

. scripts/lib.sh
trap qm_cleanup EXIT
qm_scratch dir /tmp/qm7410-demo.XXXXXX
link="$dir/COM1"

# Without a session's runtime directory (root, a plain ssh or container shell) Qt warns and makes one
# of its own; give the monitor a private one instead, as a login session would.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
  mkdir -m 0700 "$dir/runtime"
  export XDG_RUNTIME_DIR="$dir/runtime"
fi

# The window starts at slave address 0, so the simulated meter answers there unless told otherwise:
# OK and 运行 are then enough to see live values.
status=0
qm_start_sim 10 /dev/null "$dir/sim.out" "$dir/sim.err" build/qm7410-sim --link "$link" --address 0 "$@" || status=$?
if [ "$status" -eq 1 ]; then
  echo "The simulator did not start:" >&2
  cat "$dir/sim.err" >&2
  exit 1
elif [ "$status" -ne 0 ]; then
  echo "The simulator did not get ready in 10 s." >&2
  exit 1
fi

export QM7410_COM1="$link"
echo "Simulated QM7410 on $link (serial port 1, address 0, 9600 baud, no parity unless you said otherwise)."
echo "In the monitor: keep the presets, press 确定, then press 运行 (with another --address, type it into"
echo "子机地址 or press 轮询地址 to find it first)."

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  if command -v xvfb-run >/dev/null; then
    echo "No display found: running under xvfb-run, where the window cannot be seen. Press Ctrl-C to stop."
    xvfb-run -a -s "-screen 0 1024x768x24" build/qm7410-monitor || true
  else
    echo "No display found (DISPLAY is not set) and xvfb-run is missing: start this from a desktop session." >&2
    exit 1
  fi
else
  build/qm7410-monitor || true
fi
echo "Monitor ended; stopping the simulator."
