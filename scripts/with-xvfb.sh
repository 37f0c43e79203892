#!/usr/bin/env bash
# with-xvfb.sh COMMAND [ARGS...]: runs COMMAND on a private virtual X server (1024x768, 24 bits),
# ends the server afterwards and exits with COMMAND's status.
# The server picks a free display number itself (-displayfd) and writes it once it accepts clients.
# xvfb-run -a guesses the number from the lock files in /tmp instead: with tests running in parallel
# and other work on the machine, two of them can guess the same number and a client ends up on a
# display it cannot use ("could not connect to display").
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: with-xvfb.sh COMMAND [ARGS...]" >&2; exit 2; }
command -v Xvfb >/dev/null || { echo "SKIP: Xvfb missing (package xvfb)"; exit 77; }

. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
trap qm_cleanup EXIT
qm_scratch dir
trap 'exit 130' INT
trap 'exit 143' TERM

# A cookie of our own, so that only our clients use the server. The server takes every cookie in
# its file whatever display it is written for; clients look theirs up by the display number, which
# is known only once the server runs.
cookie=$(mcookie)
touch "$dir/server-auth" "$dir/Xauthority"
xauth -q -f "$dir/server-auth" add :0 . "$cookie"
# -noreset: by default the server resets when its last client leaves, and a client connecting
# during the reset is turned away; between the tests' short-lived clients (xdotool, the
# accessibility bus launcher) and the program starting, that happens on a busy machine.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset -auth "$dir/server-auth" \
  3>"$dir/display" 2>"$dir/xvfb.log" &
xvfb_pid=$!
qm_track "$xvfb_pid"
# Generous: on a busy machine the server can take seconds to come up.
qm_wait_ready 60 "$xvfb_pid" "$dir/display" '[0-9]' || true
display=$(tr -dc '0-9' <"$dir/display")
if [ -z "$display" ]; then
  echo "with-xvfb: the virtual X server did not start:" >&2
  cat "$dir/xvfb.log" >&2
  exit 1
fi
xauth -q -f "$dir/Xauthority" add ":$display" . "$cookie"

status=0
DISPLAY=:$display XAUTHORITY=$dir/Xauthority "$@" || status=$?
exit "$status"
