#!/usr/bin/env bash
# bench-poll as a screen-reader user runs the program: on a virtual X server, with the accessibility
# bus (AT-SPI) on and a client registered for every object, window and focus event, as Orca
# registers. Each value the poll cycle changes then costs messages on that bus; this is where they
# show. A measuring program, not a test.
#
#   bench/bench-poll-a11y.sh [SECONDS] [BAUDS]   (default 60 and 9600; the build in build/, or $BUILD_DIR)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bauds=${2:-9600}
build=${BUILD_DIR:-build}
[ "${QM_A11Y_INNER:-}" = 1 ] || exec env QM_A11Y_INNER=1 scripts/with-xvfb.sh dbus-run-session -- "$0" "$@"

. scripts/lib.sh
trap qm_cleanup EXIT
/usr/libexec/at-spi-bus-launcher --launch-immediately &
qm_track $!
/usr/bin/python3 - <<'PY' &
import pyatspi
pyatspi.Registry.registerEventListener(lambda e: None, "object", "window", "focus")
pyatspi.Registry.start()
PY
qm_track $!
# The listener's registration reaches the program when it connects; give the registry a moment.
for _ in $(seq 50); do
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$build/bench-poll" --seconds "$seconds" --bauds "$bauds" \
  --sim "$build/qm7410-sim"
