#!/usr/bin/env bash
# Installs what is missing, builds Snipjar (the application alone, in the build/ the tests use too)
# and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/configure.sh
cmake --build build -j "$(nproc)" --target snipjar
exec ./build/src/app/snipjar "$@"
