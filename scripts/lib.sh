# shellcheck shell=bash
# Shared by the scripts that start the simulated meter, a virtual X server or ser2net in the
# background: sourced, never run. What they start and the scratch directories they make are recorded
# here, and `trap qm_cleanup EXIT` ends and removes them however the script ends.

qm_pids=()
qm_scratch_dirs=()

# qm_track PID...: a background process for qm_cleanup to end.
qm_track() { qm_pids+=("$@"); }

# qm_stop PID...: ends those processes now and forgets them.
qm_stop() {
  local p kept=() stopped=" $* "
  for p in "$@"; do kill "$p" 2>/dev/null || true; done
  for p in "$@"; do wait "$p" 2>/dev/null || true; done
  for p in "${qm_pids[@]}"; do [[ "$stopped" == *" $p "* ]] || kept+=("$p"); done
  qm_pids=("${kept[@]}")
}

# qm_scratch VAR [TEMPLATE]: sets VAR to a new scratch directory (mktemp -d TEMPLATE) that
# qm_cleanup removes.
qm_scratch() {
  local made
  made=$(mktemp -d ${2:+"$2"})
  qm_scratch_dirs+=("$made")
  printf -v "$1" '%s' "$made"
}

# qm_cleanup: ends every tracked process, waits for it, and removes the scratch directories.
qm_cleanup() {
  [ ${#qm_pids[@]} -eq 0 ] || qm_stop "${qm_pids[@]}"
  [ ${#qm_scratch_dirs[@]} -eq 0 ] || rm -rf "${qm_scratch_dirs[@]}"
  qm_scratch_dirs=()
}

# until_within SECONDS COMMAND...: true once COMMAND succeeds, tried every 0.1 s.
until_within() {
  local tries=$(($1 * 10))
  shift
  for _ in $(seq "$tries"); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# qm_wait_ready SECONDS PID FILE PATTERN...: waits until every PATTERN (grep) is found in FILE.
# Status 0 then, 1 when process PID ended first, 2 when SECONDS passed.
qm_wait_ready() {
  local tries=$(($1 * 20)) pid=$2 file=$3 pattern missing
  shift 3
  for _ in $(seq "$tries"); do
    missing=0
    for pattern in "$@"; do
      grep -q -- "$pattern" "$file" 2>/dev/null || { missing=1; break; }
    done
    [ "$missing" -eq 0 ] && return 0
    kill -0 "$pid" 2>/dev/null || return 1
    sleep 0.05
  done
  return 2
}

# qm_start_sim SECONDS STDIN OUT ERR SIM ARGS...: the simulated meter SIM in the background with its
# command channel on STDIN, its ready lines and answers in OUT, its errors (and --log lines) in ERR;
# waits up to SECONDS for its first ready line. Sets sim_pid; status as qm_wait_ready.
qm_start_sim() {
  local seconds=$1 in=$2 out=$3 err=$4
  shift 4
  "$@" <"$in" >"$out" 2>"$err" &
  sim_pid=$!
  qm_track "$sim_pid"
  qm_wait_ready "$seconds" "$sim_pid" "$out" '^ready'
}

# qm_free_port: a TCP port on the loopback interface that nothing listens on right now.
qm_free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# qm_start_ser2net DEVICE SETTINGS PORT LOG: Debian's ser2net as a transparent gateway in front of
# DEVICE (SETTINGS such as 9600n81) on 127.0.0.1:PORT, its output in LOG. Sets ser2net_pid; true once
# it accepts connections (within 60 s). Without chardelay it passes bytes on as they come instead of
# waiting for the line to go quiet (up to 20 ms a piece).
qm_start_ser2net() {
  ser2net -n -u -Y "connection: &meter#  accepter: tcp,127.0.0.1,$3#  connector: serialdev,$1,$2,local#  options:#    chardelay: false" \
    >"$4" 2>&1 &
  ser2net_pid=$!
  qm_track "$ser2net_pid"
  until_within 60 bash -c "exec 3<>/dev/tcp/127.0.0.1/$3"
}
