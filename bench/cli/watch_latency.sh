#!/usr/bin/env bash
# Delay from a copy to its row in `snipjar watch --json`: xclip copies a new text, and the clock
# stops when the watch's line for it is read. Copies are made one after another (each once the last
# was seen), 200 times over a history of 1,000 clips, in a private X session. Prints the median
# and the 99th percentile from xclip's start and from its return (once it owns the clipboard).
# Usage: bench/cli/watch_latency.sh [build folder]
set -euo pipefail
source "$(dirname "$0")/../session.sh"
write_settings_at_rest
"$build/bench/app/snipjar_seed_history" 1000 >/dev/null
snipjar="$build/src/app/snipjar"
"$snipjar" &
pid=$!
for _ in $(seq 1 200); do
  [ -S "$XDG_RUNTIME_DIR/Snipjar/instance.socket" ] && break
  sleep 0.05
done
rows=$(mktemp -u)
mkfifo "$rows"
"$snipjar" watch --json >"$rows" &
watch=$!
exec 4<"$rows"
trap 'kill $watch $pid 2>/dev/null; wait $pid 2>/dev/null || true; rm -f "$rows"' EXIT
sleep 0.5

percentile() {
  sort -n | awk -v p="$1" '{ v[NR] = $1 } END { i = int((NR * p + 99) / 100); if (i < 1) i = 1; print v[i] }'
}

rounds=200
delays=()
copies=()
afters=()
for i in $(seq 1 "$rounds"); do
  start=$(date +%s%N)
  printf 'watched copy %d' "$i" | xclip -selection clipboard
  copied=$(date +%s%N)
  while read -r line <&4; do
    [[ $line == *"\"watched copy $i\""* ]] && break
  done
  end=$(date +%s%N)
  delays+=("$(((end - start) / 1000))")
  copies+=("$(((copied - start) / 1000))")
  afters+=("$(((end - copied) / 1000))")
done
ms() { awk '{ printf "%.1f", $1 / 1000 }'; }
echo "copy to watch row, $rounds copies: median $(printf '%s\n' "${delays[@]}" | percentile 50 | ms) ms, p99 $(printf '%s\n' "${delays[@]}" | percentile 99 | ms) ms (xclip itself: median $(printf '%s\n' "${copies[@]}" | percentile 50 | ms) ms)"
echo "from xclip's return (it owns the clipboard) to the row: median $(printf '%s\n' "${afters[@]}" | percentile 50 | ms) ms, p99 $(printf '%s\n' "${afters[@]}" | percentile 99 | ms) ms"
