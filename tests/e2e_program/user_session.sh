#!/usr/bin/env bash
# The real program against qm7410-sim under Xvfb, driven from the keyboard the way a user would:
# OK in the port dialog, 运行, the title shows the meter's identification, then Escape must close the
# window promptly although poll cycles follow each other back to back.
set -euo pipefail
sim=$1 monitor=$2
here=$(dirname "$0")
. "$here/session.sh"
in_xvfb "$0" "$@"

dir=$(mktemp -d)
cleanup() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$dir"/*.log 2>/dev/null | tail -20; exit 1; }

start_sim "$sim" "$dir/COM1" --address 0
start_polling "$monitor" "$dir/COM1" || fail "could not start polling"
wait_title "VM7410智能电力监测仪------Velmora\(1\.2\.03版\)" 10 || fail "identification title not shown"
sleep 2.5
start=$(date +%s%N)
xdotool key Escape
for _ in $(seq 50); do kill -0 "$monitor_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$monitor_pid" 2>/dev/null && fail "window still open 5 s after Escape while polling"
elapsed=$((($(date +%s%N) - start) / 1000000))
echo "window closed ${elapsed} ms after Escape"
[ "$elapsed" -lt 3000 ] || fail "closing took ${elapsed} ms"
echo "1 passed, 0 failed"
