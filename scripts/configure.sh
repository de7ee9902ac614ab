#!/usr/bin/env bash
# Configures a build folder the one way the README commands use it, stating every option, so that
# whichever of run.sh and test.sh ran before, the next finds what it needs (a cached option from
# an earlier configure never decides what gets built).
# Usage: scripts/configure.sh [normal|asan]
#   normal: build/, optimised with debug information, tests on, benchmarks off (bench/run-all.sh
#           turns them on in the same folder).
#   asan:   build-asan/, AddressSanitizer and UndefinedBehaviorSanitizer, line tables only (full
#           debug information made the sanitizer build's objects several times larger and slower
#           to link without making its reports any better).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-env.sh
common=(-G Ninja "${snipjar_launcher[@]}" -DSNIPJAR_BUILD_TESTS=ON -DSNIPJAR_BUILD_BENCH=OFF
  -DSNIPJAR_DEBUG_IDENTITY=OFF -DSNIPJAR_UPDATE_FEED_URL= -DSNIPJAR_UPDATE_PUBLIC_KEY=)
case "${1:-normal}" in
  normal)
    cmake -S . -B build "${common[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNIPJAR_SANITIZE=OFF \
      -DCMAKE_CXX_FLAGS= -DCMAKE_C_FLAGS= >/dev/null ;;
  asan)
    cmake -S . -B build-asan "${common[@]}" -DCMAKE_BUILD_TYPE=Debug -DSNIPJAR_SANITIZE=ON \
      -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DCMAKE_C_FLAGS_DEBUG=-g1 >/dev/null ;;
  *) echo "usage: $0 [normal|asan]" >&2; exit 2 ;;
esac
