# The real program against qm7410-sim under Xvfb, started the way a user starts it. Sourced by the
# end-to-end scripts; they set $dir (a scratch directory) and clean up the processes in $pids.

pids=()

# in_xvfb SCRIPT ARGS...: runs the calling script again inside a virtual X server, once.
in_xvfb() {
  for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
  done
  if [ -z "${QM_IN_XVFB:-}" ]; then
    QM_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
  fi
}

# start_sim SIM LINK ARGS...: the simulated meter on LINK; commands go to $dir/sim.in (kept open on
# descriptor 7), answers to $dir/sim.out, errors and --log lines to $dir/sim.log. Waits until it listens.
start_sim() {
  local sim=$1 link=$2
  shift 2
  mkfifo "$dir/sim.in"
  exec 7<>"$dir/sim.in"
  "$sim" --link "$link" "$@" <"$dir/sim.in" >"$dir/sim.out" 2>"$dir/sim.log" &
  sim_pid=$!
  pids+=("$sim_pid")
  for _ in $(seq 100); do
    grep -q '^ready' "$dir/sim.out" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "FAIL: the simulator did not start"
  cat "$dir/sim.log"
  exit 1
}

# wait_title TEXT SECONDS: waits for a window whose title matches TEXT.
wait_title() {
  for _ in $(seq $(($2 * 10))); do
    xdotool search --name "$1" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# start_polling MONITOR LINK: the program with serial port 1 on LINK; OK in the port dialog with its
# presets (9600 baud, no parity, port 1), then 运行. Sets $monitor_pid.
start_polling() {
  QM7410_COM1="$2" "$1" >"$dir/monitor.log" 2>&1 &
  monitor_pid=$!
  pids+=("$monitor_pid")
  wait_title "通讯设置" 20 || { echo "FAIL: port settings dialog did not appear"; return 1; }
  sleep 0.5
  xdotool key Return
  wait_title "QM7410智能电力监测仪" 10 || { echo "FAIL: main window did not appear"; return 1; }
  sleep 0.5
  # Focus starts on 退出; six tabs reach 运行 (通讯设置, 仪表设置, 更改子机地址, 子机地址, 轮询地址, 运行).
  xdotool key Tab Tab Tab Tab Tab Tab space
}
