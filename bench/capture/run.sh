#!/usr/bin/env bash
# Runs the capture benchmarks in a private X session (Xvfb + openbox, private XDG folders), or a
# private headless sway session with SNIPJAR_SESSION=sway.
# Usage: [SNIPJAR_SESSION=sway] bench/capture/run.sh [build directory] [benchmark options...]
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${1:-$root/build}
shift || true
exec "$root/tests/support/with-${SNIPJAR_SESSION:-x}.sh" "$build/bench/capture/snipjar_capture_bench" "$@"
