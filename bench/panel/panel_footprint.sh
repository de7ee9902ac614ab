#!/usr/bin/env bash
# Resident memory of the running application after its panel was opened ten times over a history
# of 1,000 clips, a tenth of them images, walking a few rows each time so that previews load.
# Target: at most 150 MB resident.
# Usage: bench/panel/panel_footprint.sh [build folder]   (starts its own Xvfb session)
set -euo pipefail
source "$(dirname "$0")/../session.sh"

mkdir -p "$XDG_CONFIG_HOME/Snipjar"
printf '[General]\nhistoryLength=1000\n' > "$XDG_CONFIG_HOME/Snipjar/Snipjar.conf"
"$build/bench/app/snipjar_seed_history" 1000 --images >/dev/null

"$build/src/app/snipjar" 2>/dev/null &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null' EXIT
sleep 3
rss() { awk '/^VmRSS:/ {print $2}' "/proc/$pid/status"; }
before=$(rss)
for _ in $(seq 1 10); do
  xdotool key ctrl+alt+v
  sleep 0.4
  # Down over twelve rows: at least one image preview each time.
  for _ in $(seq 1 12); do
    xdotool key Down
    sleep 0.15
  done
  sleep 0.5
  xdotool key Escape
  sleep 0.3
done
sleep 1
after=$(rss)
hwm=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
awk -v b="$before" -v a="$after" -v h="$hwm" 'BEGIN {
  printf "resident memory before the panel:            %.1f MB\n", b / 1024
  printf "after opening it ten times over 1,000 clips: %.1f MB (peak %.1f MB; target <= 150 MB)\n", a / 1024, h / 1024
}'
