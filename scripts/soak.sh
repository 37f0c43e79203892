#!/usr/bin/env bash
# Soak: the real program polls qm7410-sim for SECONDS (default 1800) under a virtual X server, the
# way a user starts it, while the meter commits a fault at random every few seconds. The program's
# resident memory and open descriptors are sampled every QM_SOAK_INTERVAL seconds (default 5); the
# soak fails if either grows, if polling stops, or if the program ends.
#   ./scripts/soak.sh [SECONDS]
# The samples go to build/soak/samples.txt, the simulator's log of every frame to build/soak/sim.log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. tests/e2e_program/session.sh
in_xvfb "$root/scripts/soak.sh" "$@"

duration=${1:-1800}
interval=${QM_SOAK_INTERVAL:-5}
./scripts/build.sh build >/dev/null
echo "soak: ${duration} s, a sample every ${interval} s"

dir=$root/build/soak
rm -rf "$dir"
mkdir -p "$dir"
trap qm_cleanup EXIT
fail() { echo "FAIL: $*"; tail -5 "$dir/monitor.log" "$dir/samples.txt" 2>/dev/null; exit 1; }

# The window starts at slave address 0, so the meter answers there and 运行 is all it takes.
start_sim build/qm7410-sim "$dir/COM1" --address 0 --log || fail "simulator not ready"
start_polling build/qm7410-monitor "$dir/COM1" || fail "could not start polling"

# One poll cycle asks for the settings block (26 registers at 0x0300) once.
cycles() { grep -c '<- 00 03 03 00 00 1A' "$dir/sim.log" || true; }
committed() { grep -c 'fault: ' "$dir/sim.log" || true; }
polling() { [ "$(cycles)" -gt 0 ]; }
until_within 60 polling || fail "no poll cycle reached the meter"

faults=(silence late noise badcrc wrongaddress exception truncated flood)
asked=0
start=$(date +%s)
next_fault=$start
next_sample=$start
last_cycles=0
last_progress=$start
printf '%8s %8s %8s %10s %5s\n' seconds cycles faults rss_kB fds >"$dir/samples.txt"
while :; do
  now=$(date +%s)
  elapsed=$((now - start))
  kill -0 "$monitor_pid" 2>/dev/null || fail "the program ended after ${elapsed} s"
  if [ "$now" -ge "$next_fault" ]; then
    count=$((RANDOM % 3 + 1))
    echo "fault ${faults[RANDOM % ${#faults[@]}]}:$count" >&7
    asked=$((asked + count))
    next_fault=$((now + 1 + RANDOM % 4))
  fi
  if [ "$now" -ge "$next_sample" ]; then
    rss=$(awk '/^VmRSS/ {print $2}' "/proc/$monitor_pid/status")
    fds=$(ls "/proc/$monitor_pid/fd" | wc -l)
    c=$(cycles)
    printf '%8d %8d %8d %10d %5d\n' "$elapsed" "$c" "$asked" "$rss" "$fds" >>"$dir/samples.txt"
    if [ "$c" -gt "$last_cycles" ]; then
      last_cycles=$c
      last_progress=$now
    fi
    [ $((now - last_progress)) -le 30 ] || fail "no poll cycle for 30 s"
    next_sample=$((now + interval))
  fi
  [ "$elapsed" -ge "$duration" ] && break
  sleep 0.2
done

# Growth: the samples after the first quarter of the run (start-up, first cycles) are split in
# halves; memory fails when the smallest sample of the later half exceeds the largest of the earlier
# half by more than 2 MB and 5 %, descriptors when any later sample exceeds every earlier one.
awk -v warm=$((duration / 4)) -v cycles="$(cycles)" -v asked="$asked" -v committed="$(committed)" '
  NR > 1 && $1 >= warm { t[n] = $1; rss[n] = $4; fds[n] = $5; n++ }
  NR == 2 { rss0 = $4; fds0 = $5 }
  END {
    if (n < 4) { print "FAIL: too few samples after the warm-up"; exit 1 }
    half = int(n / 2)
    for (i = 0; i < n; i++) {
      if (i < half) { if (rss[i] > earlyRss) earlyRss = rss[i]; if (fds[i] > earlyFds) earlyFds = fds[i] }
      else { if (lateRss == "" || rss[i] < lateRss) lateRss = rss[i]; if (fds[i] > lateFds) lateFds = fds[i] }
    }
    printf "soak: %d s, %d poll cycles, %d faults asked, %d committed\n", t[n - 1], cycles, asked, committed
    printf "memory: %d kB at start, %d kB at the end (after warm-up: at most %d kB early, at least %d kB late)\n",
           rss0, rss[n - 1], earlyRss, lateRss
    printf "descriptors: %d at start, %d at the end (after warm-up: at most %d early, at most %d late)\n",
           fds0, fds[n - 1], earlyFds, lateFds
    slack = earlyRss * 0.05; if (slack < 2048) slack = 2048
    bad = 0
    if (lateRss > earlyRss + slack) { print "FAIL: resident memory grows"; bad = 1 }
    if (lateFds > earlyFds) { print "FAIL: open descriptors grow"; bad = 1 }
    if (!bad) print "soak passed"
    exit bad
  }' "$dir/samples.txt"
