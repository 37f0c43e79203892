#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang into build-fuzz/ and runs each in turn.
#   ./scripts/fuzz.sh [--time SECONDS | --runs N] [HARNESS...]
# Default: 60 seconds per harness, every harness. Each starts from its seeds in fuzz/corpus/HARNESS
# and from build-fuzz/corpus/HARNESS, which keeps what earlier runs found. A crash or a failed
# property leaves its input in build-fuzz/findings/HARNESS/ and makes the script fail. The report
# (also in build-fuzz/fuzz-report.txt) gives executions and findings per harness.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
limit=(-max_total_time=60)
harnesses=()
while [ $# -gt 0 ]; do
  case $1 in
    --time) limit=(-max_total_time="$2"); shift 2 ;;
    --runs) limit=(-runs="$2"); shift 2 ;;
    -h|--help) sed -n '2,7p' "$0"; exit 0 ;;
    *) harnesses+=("$1"); shift ;;
  esac
done
[ ${#harnesses[@]} -gt 0 ] || harnesses=(fuzz_receive fuzz_transaction fuzz_mbap fuzz_sim_mbap fuzz_sim_line
  fuzz_sim_commands fuzz_analog_input fuzz_data_exchange fuzz_service_config fuzz_http_request)

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_WERROR=ON -DQM_FUZZ=ON >/dev/null
cmake --build build-fuzz --target fuzz -j "$(nproc)"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/fuzz/lsan.supp
report=$root/build-fuzz/fuzz-report.txt
printf '%-20s %12s %8s %10s %9s\n' harness executions seconds corpus findings >"$report"
failed=0
for h in "${harnesses[@]}"; do
  corpus=$root/build-fuzz/corpus/$h
  findings=$root/build-fuzz/findings/$h
  mkdir -p "$corpus" "$findings"
  extra=()
  [ "$h" = fuzz_data_exchange ] && extra=(-max_len=512)  # longer texts only slow the widgets down
  echo "== $h ${limit[*]}"
  log=$root/build-fuzz/$h.log
  start=$(date +%s)
  marker=$root/build-fuzz/.started-$h
  touch "$marker"
  status=0
  # The harness that needs a display gets the offscreen platform; nice keeps the machine usable.
  (cd "$findings" && QT_QPA_PLATFORM=offscreen nice -n 10 "$root/build-fuzz/$h" "${limit[@]}" "${extra[@]}" \
    -print_final_stats=1 -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$findings/" \
    "$corpus" "$root/fuzz/corpus/$h") >"$log" 2>&1 || status=$?
  seconds=$(($(date +%s) - start))
  runs=$(awk -F: '/^stat::number_of_executed_units/ {gsub(/ /, "", $2); print $2}' "$log")
  [ -n "$runs" ] || runs=$(sed -n 's/^Done \([0-9]*\) runs.*/\1/p' "$log" | tail -1)
  count=$(find "$findings" -type f -newer "$marker" \( -name 'crash-*' -o -name 'leak-*' -o -name 'timeout-*' -o -name 'oom-*' \) | wc -l)
  if [ "$status" -ne 0 ] && [ "$count" -eq 0 ]; then count=1; fi
  printf '%-20s %12s %8s %10s %9s\n' "$h" "${runs:-?}" "$seconds" "$(ls "$corpus" | wc -l)" "$count" >>"$report"
  if [ "$count" -ne 0 ]; then
    failed=1
    echo "FINDING in $h (log: $log):"
    grep -E 'property failed|ERROR:|SUMMARY:|runtime error' "$log" | head -5 || tail -20 "$log"
  fi
done
cat "$report"
exit $failed
