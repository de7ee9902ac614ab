#!/usr/bin/env bash
# From running `snipjar show-panel` to the panel's window mapped on the screen, with a history of
# 1,000 clips and Snipjar running, in a private X session (target: at most 50 ms). Prints the
# median of 25 runs after one not counted, and that of the command's own exit beside it. How the
# map is seen: bench/app/ShowPanelBench.cpp.
# Usage: bench/app/show_panel.sh [build folder]
set -euo pipefail
source "$(dirname "$0")/../session.sh"
write_settings_at_rest
"$build/bench/app/snipjar_seed_history" 1000 >/dev/null
snipjar="$build/src/app/snipjar"
"$snipjar" 2>/dev/null &
app=$!
trap 'kill $app 2>/dev/null; wait $app 2>/dev/null || true' EXIT
for _ in $(seq 1 200); do
  [ -S "$XDG_RUNTIME_DIR/Snipjar/instance.socket" ] && break
  sleep 0.05
done
echo "$("$snipjar" list | wc -l) clips"
"$build/bench/app/snipjar_bench_show_panel" "$snipjar" 25
