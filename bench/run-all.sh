#!/usr/bin/env bash
# Builds the benchmarks and runs them all, printing their figures. The 48-megapixel transcode takes
# minutes; it runs only with --with-transcode.
# Usage: bench/run-all.sh [--with-transcode] [build folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
transcode=0
if [ "${1:-}" = "--with-transcode" ]; then
  transcode=1
  shift
fi
build=${1:-$root/build}
# The README commands configure build/ without benchmarks; this turns them on in the same folder.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSNIPJAR_BUILD_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)"

echo "== history store"
"$build/bench/store/snipjar_bench_store"
echo "== panel"
"$build/bench/panel/snipjar_bench_panel"
echo "== panel window (private X session)"
"$root/tests/support/with-x.sh" "$build/bench/panel/snipjar_bench_panel_open"
"$root/bench/panel/panel_footprint.sh" "$build"
echo "== image functions"
if [ "$transcode" = 1 ]; then
  "$build/bench/image/snipjar_bench_image"
else
  "$build/bench/image/snipjar_bench_image" --benchmark_filter='-BM_Transcode48Megapixels'
fi
echo "== capture (private X session)"
"$root/bench/capture/run.sh" "$build"
echo "== X11 clipboard (private X session)"
"$root/tests/support/with-x.sh" "$build/bench/x11/snipjar_x11_pasteboard_bench"
echo "== start-up and tray menu"
"$root/bench/app/startup.sh" "$build"
"$build/bench/app/snipjar_bench_tray_menu"
echo "== idle application, then 200 copies (X11, then a headless sway)"
"$root/bench/app/idle_footprint.sh" "$build"
if command -v sway >/dev/null 2>&1; then
  SNIPJAR_SESSION=sway "$root/bench/app/idle_footprint.sh" "$build"
fi
echo "== clipboard kept after its owner quits"
"$root/bench/app/clipboard_takeover.sh" "$build"
echo "== command line round trips with Snipjar running"
"$root/bench/app/command_line.sh" "$build"
"$root/bench/app/show_panel.sh" "$build"
echo "== export and import of 10,000 clips with 1,000 images"
"$root/bench/cli/export_import.sh" "$build"
"$root/bench/cli/watch_latency.sh" "$build"
echo "== sync engine (in-memory cloud)"
"$build/bench/sync/snipjar_bench_sync_engine"
echo "== initial sync of 10,000 clips to a fresh computer (private PostgreSQL server)"
"$build/bench/sync/snipjar_bench_sync_initial"
echo "== server load: 100 users syncing at once (private PostgreSQL server)"
"$build/bench/sync/snipjar_bench_sync_server_load"
echo "== sync between two computers (private PostgreSQL server, private X sessions)"
"$root/bench/sync/copy_to_visible.sh" "$build"
