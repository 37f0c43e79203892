# The real program against qm7410-sim under Xvfb, started the way a user starts it. Sourced by the
# end-to-end scripts; they set $dir (a scratch directory) and `trap qm_cleanup EXIT` (scripts/lib.sh)
# ends what these functions start.

qm_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../scripts" && pwd)
. "$qm_scripts/lib.sh"

# in_xvfb SCRIPT ARGS...: runs the calling script again inside a virtual X server, once.
in_xvfb() {
  for tool in Xvfb xauth xdotool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
  done
  if [ -z "${QM_IN_XVFB:-}" ]; then
    QM_IN_XVFB=1 exec "$qm_scripts/with-xvfb.sh" "$@"
  fi
}

focused() { [[ "$(xdotool getwindowfocus getwindowname 2>/dev/null)" == $1 ]]; }
closed() { ! kill -0 "$monitor_pid" 2>/dev/null; }

# start_sim SIM LINK ARGS...: the simulated meter on LINK. Commands written to descriptor 7 reach
# its command channel; answers go to $dir/sim.out, errors and --log lines to $dir/sim.log.
start_sim() {
  local sim=$1 link=$2
  shift 2
  mkfifo "$dir/sim.in"
  exec 7<>"$dir/sim.in"
  qm_start_sim 60 "$dir/sim.in" "$dir/sim.out" "$dir/sim.log" "$sim" --link "$link" "$@"
}

# start_polling MONITOR LINK: the program with serial port 1 on LINK; OK in the port dialog with its
# presets (9600 baud, no parity, port 1), then 运行. Sets $monitor_pid. Keys go to the window that
# has the focus: each step waits for it rather than for a fixed time.
start_polling() {
  QM7410_COM1="$2" "$1" >"$dir/monitor.log" 2>&1 &
  monitor_pid=$!
  qm_track "$monitor_pid"
  until_within 60 focused "通讯设置" || { echo "port settings dialog did not get the focus"; return 1; }
  xdotool key Return
  until_within 60 focused "QM7410智能电力监测仪*" || { echo "main window did not get the focus"; return 1; }
  # Focus starts on 退出; six tabs reach 运行 (通讯设置, 仪表设置, 更改子机地址, 子机地址, 轮询地址, 运行).
  xdotool key Tab Tab Tab Tab Tab Tab space
}
