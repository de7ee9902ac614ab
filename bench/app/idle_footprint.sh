#!/usr/bin/env bash
# Resident memory and CPU of the idle application with 1,000 clips in its history, then its resident
# memory after COPIES (200) texts copied one after another, each recorded before the next.
# Targets: at most 60 MB resident, under 0.5 % of one core.
# Usage: [SNIPJAR_SESSION=sway] bench/app/idle_footprint.sh [build folder]   (starts its own Xvfb
# session, or a headless sway)
set -euo pipefail
source "$(dirname "$0")/../session.sh"
settle=${SETTLE_SECONDS:-5}
window=${WINDOW_SECONDS:-30}
copies=${COPIES:-200}

# Limits are raised so that all 1,000 clips stay.
# At rest: onboarding done, a tray host holding the icon.
write_settings_at_rest
"$build/bench/app/snipjar_seed_history" 1000
start_tray

"$build/src/app/snipjar" &
pid=$!
trap 'kill $pid $tray 2>/dev/null; wait $pid 2>/dev/null' EXIT
sleep "$settle"
ticks=$(getconf CLK_TCK)
cpu_before=$(awk '{print $14 + $15}' "/proc/$pid/stat")
sleep "$window"
cpu_after=$(awk '{print $14 + $15}' "/proc/$pid/stat")
rss_kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
hwm_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
rows=$("$build/src/app/snipjar" list | wc -l)
for i in $(seq 1 "$copies"); do
  copy_text "copied for the footprint $i"
  for _ in $(seq 1 200); do
    [ "$("$build/src/app/snipjar" list --limit 1 | cut -f3)" = "copied for the footprint $i" ] && break
    sleep 0.01
  done
done
sleep "$settle"
copied_kb=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status")
copied_hwm_kb=$(awk '/^VmHWM:/ {print $2}' "/proc/$pid/status")
recorded=$("$build/src/app/snipjar" search "copied for the footprint" | wc -l)

awk -v rss="$rss_kb" -v hwm="$hwm_kb" -v crss="$copied_kb" -v chwm="$copied_hwm_kb" -v n="$copies" -v got="$recorded" -v s="$session" -v c0="$cpu_before" -v c1="$cpu_after" -v t="$ticks" -v w="$window" -v rows="$rows" 'BEGIN {
  cpu = (c1 - c0) / t / w * 100
  printf "session:                 %s\n", s
  printf "history rows:            %d\n", rows
  printf "idle resident memory:    %.1f MB (peak %.1f MB; target <= 60 MB)\n", rss / 1024, hwm / 1024
  printf "idle CPU over %d s:      %.3f %% of one core (target < 0.5 %%)\n", w, cpu
  printf "after %d copies:         %.1f MB resident (peak %.1f MB), %d of them recorded\n", n, crss / 1024, chwm / 1024, got
}'
