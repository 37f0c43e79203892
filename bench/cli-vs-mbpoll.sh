#!/usr/bin/env bash
# qm7410-cli against Debian's mbpoll: both read the 41-register measurement block from qm7410-sim
# --pace (replies at the line's real byte rate) at 9600 and 19200 baud, taking turns, READS times
# each, one process per read: on the serial line (a pseudo-terminal), through Debian's ser2net as a
# transparent gateway (RTU over TCP), and over Modbus TCP from the simulator's own gateway side
# (--listen-tcp), where mbpoll -m tcp reads beside it. Prints the median and 95th percentile time per read, the CPU per read
# and the line's physical limit (request and reply at ten bits a byte, plus the simulator's
# turnaround). A measuring program, not a test: it takes a few minutes of wall time and little CPU.
#
#   bench/cli-vs-mbpoll.sh [READS]        (default 200; the build in build/, or $BUILD_DIR)
#
# `qm7410-cli raw 0 41` is the same single read mbpoll makes; the row under it is that read's
# exchange alone, as qm7410-cli times it (whole milliseconds), without starting the process and
# opening the port. `qm7410-cli read` is shown for scale: it also reads the identification and the
# settings block, three exchanges in all.
set -euo pipefail
cd "$(dirname "$0")/.."
reads=${1:-200}
build=${BUILD_DIR:-build}
turnaround=5

# The benchmark's own dependency: mbpoll is not needed to build or test.
if ! command -v mbpoll >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing mbpoll for the benchmark"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends mbpoll
fi
if ! command -v ser2net >/dev/null; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends ser2net
fi
if [ ! -x "$build/qm7410-cli" ] || [ ! -x "$build/qm7410-sim" ]; then
  ./scripts/build.sh "$build"
fi

. scripts/lib.sh
trap qm_cleanup EXIT
qm_scratch dir /tmp/qm7410-bench.XXXXXX

start_sim() {  # baud: the meter on a pseudo-terminal and on its own Modbus TCP side
  if qm_start_sim 10 /dev/null "$dir/sim.out" "$dir/sim.err" "$build/qm7410-sim" --link "$dir/meter" \
    --listen-tcp 127.0.0.1:0 --baud "$1" --pace --turnaround "$turnaround" &&
    qm_wait_ready 10 "$sim_pid" "$dir/sim.out" '^ready /' '^ready tcp'; then
    tcp_port=$(sed -n 's/^ready tcp .*:\([0-9]*\)$/\1/p' "$dir/sim.out")
    # ser2net in front of the pseudo-terminal, as a transparent gateway set up for low latency.
    rtu_port=$(qm_free_port)
    qm_start_ser2net "$dir/meter" "${1}n81" "$rtu_port" "$dir/ser2net.log" && return 0
  fi
  echo "The simulator did not start:" >&2
  cat "$dir/sim.err" >&2
  exit 1
}

stop_sim() { qm_stop "$ser2net_pid" "$sim_pid"; }

results="$dir/results"
: >"$results"
for baud in 9600 19200; do
  start_sim "$baud"
  link="$dir/meter"
  # One line per tool: a label, the bytes it puts on the line (requests and replies), its exchanges,
  # then the command.
  python3 - "$reads" "$baud" "$turnaround" "$results" "$tcp_port" "$rtu_port" <<EOF
import os, subprocess, sys, time

reads, baud, turnaround, results = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
tcp, rtu = "tcp://127.0.0.1:" + sys.argv[5], "rtuovertcp://127.0.0.1:" + sys.argv[6]
tools = [
    ("qm7410-cli raw 0 41", 8 + 87, 1,
     ["$build/qm7410-cli", "--port", "$link", "--baud", str(baud), "--verbose", "raw", "0", "41",
      "--format", "csv"]),
    ("mbpoll -c 41", 8 + 87, 1,
     ["mbpoll", "-m", "rtu", "-a", "1", "-b", str(baud), "-P", "none", "-t", "4", "-0", "-r", "0",
      "-c", "41", "-1", "-o", "1", "$link"]),
    ("qm7410-cli read", (8 + 9) + (8 + 57) + (8 + 87), 3,
     ["$build/qm7410-cli", "--port", "$link", "--baud", str(baud), "read", "--format", "csv"]),
    # Behind a gateway the serial line behind it is the limit, as on the pseudo-terminal.
    ("cli raw rtuovertcp", 8 + 87, 1,
     ["$build/qm7410-cli", "--port", rtu, "--baud", str(baud), "raw", "0", "41", "--format", "csv"]),
    ("cli raw tcp", 8 + 87, 1,
     ["$build/qm7410-cli", "--port", tcp, "--baud", str(baud), "raw", "0", "41", "--format", "csv"]),
    ("mbpoll -m tcp", 8 + 87, 1,
     ["mbpoll", "-m", "tcp", "-p", sys.argv[5], "-a", "1", "-t", "4", "-0", "-r", "0", "-c", "41", "-1",
      "-o", "1", "127.0.0.1"]),
]
import re
exchange_label = "  its exchange alone"  # the raw read's exchange, on qm7410-cli's own clock (-v)
times = {t[0]: [] for t in tools}
times[exchange_label] = []
cpu = {t[0]: [] for t in tools}
failures = {t[0]: 0 for t in tools}
for i in range(reads):
    for label, _, _, argv in tools:  # taking turns, so a busy moment hits all of them alike
        t0 = time.perf_counter()
        p = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        err = p.stderr.read().decode("utf-8", "replace")
        _, status, usage = os.wait4(p.pid, 0)
        elapsed = time.perf_counter() - t0
        p.stderr.close()
        m = re.search(r"\((\d+) ms, 1 attempt\)", err)
        if m and "--verbose" in argv:
            times[exchange_label].append(float(m.group(1)))
        p.returncode = os.waitstatus_to_exitcode(status)
        if p.returncode != 0:
            failures[label] += 1
            continue
        times[label].append(elapsed * 1000)
        cpu[label].append((usage.ru_utime + usage.ru_stime) * 1000)

def pct(values, q):
    v = sorted(values)
    return v[min(len(v) - 1, int(round(q * (len(v) - 1))))] if v else float("nan")

with open(results, "a") as out:
    rows = [(label, line_bytes, exchanges, cpu[label], failures[label]) for label, line_bytes, exchanges, _ in tools]
    rows.insert(1, (exchange_label, 8 + 87, 1, [], 0))
    for label, line_bytes, exchanges, c, failed in rows:
        limit = line_bytes * 10 * 1000 / baud + exchanges * turnaround
        t = times[label]
        out.write("%d\t%s\t%d\t%.1f\t%.1f\t%.1f\t%.1f\t%d\n" % (
            baud, label, exchanges, limit, pct(t, 0.5), pct(t, 0.95),
            sum(c) / len(c) if c else float("nan"), failed))
EOF
  stop_sim
done

echo
echo "$reads reads per tool and baud rate, one process per read, against qm7410-sim --pace (turnaround ${turnaround} ms)"
echo
python3 - "$results" <<'EOF'
import sys
rows = [l.rstrip("\n").split("\t") for l in open(sys.argv[1])]
print("%-6s %-20s %4s %9s %10s %10s %11s %14s %12s %7s" % (
    "baud", "tool", "exch", "limit ms", "median ms", "p95 ms", "median-limit", "median/limit",
    "CPU ms/read", "failed"))
mb = {}
for baud, label, exch, limit, med, p95, cpu, failed in rows:
    if label.startswith("mbpoll"):
        mb[(baud, label)] = float(med)
for baud, label, exch, limit, med, p95, cpu, failed in rows:
    limit, med, p95, cpu = float(limit), float(med), float(p95), float(cpu)
    print("%-6s %-20s %4s %9.1f %10.1f %10.1f %+11.1f %13.3fx %12s %7s" % (
        baud, label, exch, limit, med, p95, med - limit, med / limit,
        "-" if cpu != cpu else "%.1f" % cpu, failed))
print()
for baud, label, exch, limit, med, p95, cpu, failed in rows:
    if label.startswith("qm7410-cli raw") and (baud, "mbpoll -c 41") in mb:
        print("%s baud: qm7410-cli raw / mbpoll median time per read, serial line = %.3f" % (
            baud, float(med) / mb[(baud, "mbpoll -c 41")]))
    if label == "cli raw tcp" and (baud, "mbpoll -m tcp") in mb:
        print("%s baud: qm7410-cli raw / mbpoll median time per read, Modbus TCP = %.3f" % (
            baud, float(med) / mb[(baud, "mbpoll -m tcp")]))
    if label == "cli raw rtuovertcp":
        print("%s baud: qm7410-cli raw through ser2net, median - the line's limit = %+.1f ms" % (
            baud, float(med) - float(limit)))
EOF
