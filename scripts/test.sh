#!/usr/bin/env bash
# Installs what is missing, builds Snipjar and runs the whole test suite: the normal build, the
# same suite built with AddressSanitizer and UndefinedBehaviorSanitizer, the formatting check and
# the check that the core libraries never link Qt Widgets.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

./scripts/setup.sh

echo "== formatting"
./scripts/check-format.sh

echo "== build"
./scripts/configure.sh
cmake --build build -j "$jobs"

echo "== core libraries do not link Qt Widgets"
./scripts/check-core-deps.sh build

echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== tests with AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DSNIPJAR_SANITIZE=ON -DSNIPJAR_BUILD_TESTS=ON \
  -DSNIPJAR_BUILD_BENCH=OFF -DSNIPJAR_DEBUG_IDENTITY=OFF -DSNIPJAR_UPDATE_FEED_URL= -DSNIPJAR_UPDATE_PUBLIC_KEY= >/dev/null
cmake --build build-asan -j "$jobs"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j "$jobs" -LE nosanitize
