#!/usr/bin/env bash
# Configures build/ the one way both README commands use it, stating every option, so that
# whichever of run.sh and test.sh ran before, the next finds what it needs (a cached option from
# an earlier configure never decides what gets built).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSNIPJAR_BUILD_TESTS=ON \
  -DSNIPJAR_BUILD_BENCH=ON \
  -DSNIPJAR_SANITIZE=OFF \
  -DSNIPJAR_DEBUG_IDENTITY=OFF \
  -DSNIPJAR_UPDATE_FEED_URL= \
  -DSNIPJAR_UPDATE_PUBLIC_KEY= >/dev/null
