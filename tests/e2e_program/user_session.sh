#!/usr/bin/env bash
# The real program against qm7410-sim under Xvfb, driven from the keyboard the way a user would:
# OK in the port dialog, 运行, the title shows the meter's identification, then Escape must close the
# window promptly although poll cycles follow each other back to back.
set -euo pipefail
sim=$1 monitor=$2
. "$(dirname "$0")/session.sh"
in_xvfb "$0" "$@"

trap qm_cleanup EXIT
qm_scratch dir
fail() { echo "FAIL: $*"; cat "$dir"/*.log 2>/dev/null | tail -20; exit 1; }

start_sim "$sim" "$dir/COM1" --address 0 || fail "simulator not ready"
port="$dir/COM1"
if [ "${QM_GATEWAY:-}" = ser2net ]; then
  # The same session with the meter behind Debian's ser2net, a transparent gateway: port 1 is its URL.
  command -v ser2net >/dev/null || { echo "SKIP: ser2net missing"; exit 77; }
  tcp=$(qm_free_port)
  qm_start_ser2net "$dir/COM1" 9600n81 "$tcp" "$dir/ser2net.log" || fail "ser2net did not listen"
  port="rtuovertcp://127.0.0.1:$tcp"
fi
start_polling "$monitor" "$port" || fail "could not start polling"
until_within 60 focused "VM7410智能电力监测仪------Velmora(1.2.03版)" || fail "identification title not shown"
# Cycles now follow each other back to back; Escape must still get through between two of them.
start=$(date +%s%N)
xdotool key Escape
until_within 60 closed || fail "window still open 60 s after Escape while polling"
echo "window closed $((($(date +%s%N) - start) / 1000000)) ms after Escape"
echo "1 passed, 0 failed"
