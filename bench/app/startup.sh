#!/usr/bin/env bash
# Start-up of the whole application as a user starts it (`snipjar`, which hands over to the
# application binary), from the moment the process is spawned to the tray icon up and the hot key
# registered, in a private X session with a tray host. Two cases: an empty history (target: at most
# 100 ms) and a history of 10,000 clips from ten computers (target: at most 150 ms). Prints for each
# the median of seven starts after one not counted: the wall time from spawn to ready, the same
# counted from main() (without the dynamic linker), the processor time used, which a loaded machine
# changes least, that of the main thread alone (about the least a start takes on an idle machine),
# and the number of shared libraries loaded.
# Usage: bench/app/startup.sh [build folder]
set -euo pipefail
export LC_ALL=C
source "$(dirname "$0")/../session.sh"
write_settings_at_rest
start_tray
trap 'kill $tray 2>/dev/null' EXIT

median() { printf '%s\n' "$@" | sort -n | sed -n "$(( ($# + 1) / 2 ))p"; }

# One start; prints "spawn-to-ready main-to-ready processor main-thread" in milliseconds, then the
# number of shared libraries.
start_once() {
  local log pid line spawned ready
  log=$(mktemp)
  spawned=${EPOCHREALTIME/./}
  QT_LOGGING_RULES="app.snipjar.Snipjar.app.debug=true" "$build/src/app/snipjar" 2>"$log" &
  pid=$!
  for _ in $(seq 1 400); do
    grep -q "Ready after" "$log" && break
    sleep 0.02
  done
  line=$(grep "Ready after" "$log")
  kill $pid
  wait $pid 2>/dev/null || true
  rm -f "$log"
  ready=$(sed -n 's/.*clock \([0-9]*\) us.*/\1/p' <<<"$line")
  echo "$(( (ready - spawned) / 1000 )) $(sed -n 's/.*Ready after \([0-9]*\) ms.*/\1/p' <<<"$line")" \
    "$(sed -n 's/.*processor \([0-9]*\) ms.*/\1/p' <<<"$line") $(sed -n 's/.*main thread \([0-9]*\) ms.*/\1/p' <<<"$line")" \
    "$(sed -n 's/.* \([0-9]*\) shared libraries.*/\1/p' <<<"$line")"
}

# Prints the case's medians.
measure() {
  local label=$1 target=$2 spawn=() main=() cpu=() thread=() libraries=()
  start_once >/dev/null
  for _ in 1 2 3 4 5 6 7; do
    read -r s m c t l < <(start_once)
    spawn+=("$s") main+=("$m") cpu+=("$c") thread+=("$t") libraries+=("$l")
  done
  echo "start-up to the tray icon ready, $label: median $(median "${spawn[@]}") ms from spawn (all: $(printf '%s\n' "${spawn[@]}" | sort -n | xargs)), $(median "${main[@]}") ms from main, $(median "${cpu[@]}") ms of processor time ($(median "${thread[@]}") ms on the main thread), $(median "${libraries[@]}") shared libraries (target <= $target ms)"
}

measure "empty history" 100
"$build/bench/app/snipjar_seed_history" 10000 --computers 10 >/dev/null
measure "$("$build/src/app/snipjar" list | wc -l) clips" 150
