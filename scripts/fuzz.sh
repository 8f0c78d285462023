#!/bin/sh
# Fuzzes the parsers with clang's libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer.
#
#   [RUNS=executions] scripts/fuzz.sh [seconds per target] [target …]
#
# Targets: stream_lines records origin request_path dates quick_add (all by default), 60 s each by
# default; with RUNS set, a target also stops once it has run that many inputs.
# Builds in build/fuzz; each target's growing corpus lives in build/fuzz/corpus/<target>, seeded
# from tests/fuzz/corpus/<target>. A finding is written as crash-* (or leak-*, timeout-*) in the
# current folder; add it to tests/fuzz/corpus/<target> once fixed so the replay test keeps it.
set -eu

seconds=${1:-60}
[ $# -gt 0 ] && shift
targets=${*:-"stream_lines records origin request_path dates quick_add"}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz

if ! command -v clang++ >/dev/null 2>&1; then
  echo "Installing clang (libFuzzer comes with it)…"
  if [ "$(id -u)" -eq 0 ]; then apt-get update && apt-get install -y clang; else sudo apt-get update && sudo apt-get install -y clang; fi
fi

# Every library the targets use is instrumented for coverage; only the targets link libFuzzer's main.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link" -DTEODAL_SANITIZE=ON -DTEODAL_LIBFUZZER=ON >/dev/null
for target in $targets; do
  ninja -C "$build" "fuzz_$target"
done

export LANG=en_US.UTF-8 TZ=UTC ASAN_OPTIONS=detect_leaks=0
# AddressSanitizer's quarantine and libFuzzer's bookkeeping pass 1 GB within a few million runs; from
# half the RSS limit libFuzzer purges the allocator every second, and the purge with the page faults
# after it took about half of the fuzzer's time. 4 GB still stops a real runaway.
rss_limit_mb=4096
found=0
for target in $targets; do
  mkdir -p "$build/corpus/$target"
  echo "== $target: $seconds s"
  status=0
  "$build/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -runs="${RUNS:--1}" -timeout=10 \
    -rss_limit_mb=$rss_limit_mb -print_final_stats=1 \
    "$build/corpus/$target" "$root/tests/fuzz/corpus/$target" >"$build/$target.log" 2>&1 || status=$?
  grep -E "^(stat::number_of_executed_units|stat::average_exec_per_sec|SUMMARY|property broken)" "$build/$target.log" || true
  if [ "$status" -ne 0 ]; then
    echo "   finding: see $build/$target.log"
    found=1
  fi
done
exit $found
