#!/usr/bin/env bash
# Installs what is missing, builds Snipjar and runs the whole test suite: the formatting check, the
# normal build and its tests, the check that the core libraries never link Qt Widgets, the same
# suite built with AddressSanitizer and UndefinedBehaviorSanitizer, and the fuzz targets for a
# bounded time. Each phase prints how long it took; the last line gives the test share.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
start=$SECONDS
phase_start=$SECONDS
phase() {
  [ -n "${phase_name:-}" ] && echo "== $phase_name: $((SECONDS - phase_start)) s"
  phase_name=$1
  phase_start=$SECONDS
  echo "== $1"
}

phase "setup"
./scripts/setup.sh

phase "formatting"
./scripts/check-format.sh

phase "build"
./scripts/configure.sh normal
cmake --build build -j "$jobs"

phase "core libraries do not link Qt Widgets"
./scripts/check-core-deps.sh build

phase "tests"
ctest --test-dir build --output-on-failure -j "$jobs"

phase "build with AddressSanitizer and UndefinedBehaviorSanitizer"
./scripts/configure.sh asan
cmake --build build-asan -j "$jobs"

phase "tests with AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE nosanitize
unset ASAN_OPTIONS UBSAN_OPTIONS

phase "fuzz targets, 30 s each"
./scripts/fuzz.sh

phase "done"
echo "== whole run: $((SECONDS - start)) s"
./scripts/test-share.sh
