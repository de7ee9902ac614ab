#!/usr/bin/env bash
# Start-up of the whole application, from the process starting to the tray icon up and the hot
# key registered, over a history of 10,000 clips from ten computers (target: at most 150 ms), in a
# private X session with a tray host. Prints the median of five starts.
# Usage: bench/app/startup.sh [build folder]
set -euo pipefail
source "$(dirname "$0")/../session.sh"
write_settings_at_rest
"$build/bench/app/snipjar_seed_history" 10000 --computers 10 >/dev/null
start_tray
trap 'kill $tray 2>/dev/null' EXIT
times=()
for _ in 1 2 3 4 5; do
  log=$(mktemp)
  QT_LOGGING_RULES="app.snipjar.Snipjar.app.debug=true" "$build/src/app/snipjar" 2>"$log" &
  pid=$!
  for _ in $(seq 1 100); do
    grep -q "Ready after" "$log" && break
    sleep 0.05
  done
  times+=("$(sed -n 's/.*Ready after \([0-9]*\) ms.*/\1/p' "$log")")
  kill $pid; wait $pid 2>/dev/null || true
  rm -f "$log"
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
median=$(echo "$sorted" | sed -n 3p)
rows=$("$build/src/app/snipjar" list | wc -l)
echo "start-up to the tray icon ready, ${rows} clips: median ${median} ms (all: $(echo $sorted)) (target <= 150 ms)"
