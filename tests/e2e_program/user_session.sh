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

until_within() {  # until_within SECONDS COMMAND...: true once COMMAND succeeds
  local tries=$(($1 * 10))
  shift
  for _ in $(seq "$tries"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}
focused() { [[ "$(xdotool getwindowfocus getwindowname 2>/dev/null)" == $1 ]]; }
closed() { ! kill -0 "$monitor_pid" 2>/dev/null; }

"$sim" --link "$dir/COM1" --address 0 </dev/null >"$dir/sim.out" 2>"$dir/sim.log" &
pids+=($!)
until_within 60 grep -q '^ready' "$dir/sim.out" || fail "simulator not ready"
QM7410_COM1="$dir/COM1" "$monitor" >"$dir/monitor.log" 2>&1 &
monitor_pid=$!
pids+=("$monitor_pid")

# Keys go to the window that has the focus: wait for it rather than for a fixed time.
until_within 60 focused "通讯设置" || fail "port settings dialog did not get the focus"
xdotool key Return
until_within 60 focused "QM7410智能电力监测仪*" || fail "main window did not get the focus"
# Focus starts on 退出; six tabs reach 运行 (通讯设置, 仪表设置, 更改子机地址, 子机地址, 轮询地址, 运行).
xdotool key Tab Tab Tab Tab Tab Tab space
until_within 60 focused "VM7410智能电力监测仪------Velmora(1.2.03版)" || fail "identification title not shown"
# Cycles now follow each other back to back; Escape must still get through between two of them.
start=$(date +%s%N)
xdotool key Escape
until_within 60 closed || fail "window still open 60 s after Escape while polling"
echo "window closed $((($(date +%s%N) - start) / 1000000)) ms after Escape"
echo "1 passed, 0 failed"
