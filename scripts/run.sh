#!/usr/bin/env bash
# Installs what is missing, builds Snipjar and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNIPJAR_BUILD_TESTS=OFF -DSNIPJAR_BUILD_BENCH=OFF >/dev/null
cmake --build build -j "$(nproc)" --target snipjar
exec ./build/src/app/snipjar "$@"
