#!/usr/bin/env bash
# The real program against qm7410-sim under Xvfb, driven from the keyboard the way a user would:
# OK in the port dialog, 运行, the title shows the meter's identification, then Escape must close the
# window promptly although poll cycles follow each other back to back.
set -euo pipefail
sim=$1 monitor=$2
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
if [ -z "${QM_IN_XVFB:-}" ]; then
  QM_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

dir=$(mktemp -d)
pids=()
cleanup() { kill "${pids[@]}" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$dir"; }
trap cleanup EXIT
fail() { echo "FAIL: $*"; cat "$dir"/*.log 2>/dev/null | tail -20; exit 1; }

"$sim" --link "$dir/COM1" --address 0 </dev/null >"$dir/sim.out" 2>"$dir/sim.log" &
pids+=($!)
for _ in $(seq 50); do grep -q '^ready' "$dir/sim.out" && break; sleep 0.1; done
QM7410_COM1="$dir/COM1" "$monitor" >"$dir/monitor.log" 2>&1 &
monitor_pid=$!
pids+=("$monitor_pid")

wait_title() {  # wait_title TEXT SECONDS
  for _ in $(seq $(($2 * 10))); do
    xdotool search --name "$1" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
wait_title "通讯设置" 20 || fail "port settings dialog did not appear"
sleep 0.5
xdotool key Return
wait_title "QM7410智能电力监测仪" 10 || fail "main window did not appear"
sleep 0.5
# Focus starts on 退出; six tabs reach 运行 (通讯设置, 仪表设置, 更改子机地址, 子机地址, 轮询地址, 运行).
xdotool key Tab Tab Tab Tab Tab Tab space
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
