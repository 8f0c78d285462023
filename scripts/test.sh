#!/usr/bin/env bash
# Installs what is missing, builds the project twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc)
for variant in debug asan; do
  dir=build/$variant
  sanitize=OFF; [ "$variant" = asan ] && sanitize=ON
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTEODAL_SANITIZE=$sanitize >/dev/null
  cmake --build "$dir" -j "$jobs"
done
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/debug --output-on-failure -j "$jobs" --timeout 300
ctest --test-dir build/asan --output-on-failure -j "$jobs" --timeout 600
