#!/usr/bin/env bash
# Runs the fuzz target over the seed corpus in fuzz/corpus, then for SECONDS
# more, and prints how many inputs it ran and how fast. New inputs go to
# WORK_DIR/corpus, never into the repository; a failing input is saved in
# WORK_DIR/artifacts and the script fails.
#   fuzz/run.sh FUZZER SECONDS WORK_DIR
set -euo pipefail

fuzzer=${1:?usage: $0 FUZZER SECONDS WORK_DIR}
seconds=${2:?usage: $0 FUZZER SECONDS WORK_DIR}
work=${3:?usage: $0 FUZZER SECONDS WORK_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)

mkdir -p "$work/corpus" "$work/artifacts"
log="$work/fuzz.log"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

status=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
  -artifact_prefix="$work/artifacts/" -dict="$root/fuzz/log.dict" \
  "$work/corpus" "$root/fuzz/corpus" >"$log" 2>&1 || status=$?

# libFuzzer's final statistics: executions, their average rate, peak memory.
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
seeds=$(find "$root/fuzz/corpus" -type f | wc -l)
if [ "$status" -ne 0 ] || [ -z "$runs" ]; then
  grep -v -e '^#[0-9]' -e 'NEW_FUNC' "$log" | tail -60
  echo "fuzz: FAILED (status $status); inputs in $work/artifacts, log in $log"
  exit 1
fi
echo "fuzz: $seeds seed inputs, then ${seconds} s: $runs executions, $rate exec/s, peak RSS $rss MB"
