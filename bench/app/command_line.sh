#!/usr/bin/env bash
# Round trips of the command line to a running Snipjar over its socket: `snipjar add` of a short
# text and `snipjar list --limit 20` over a history of 1,000 clips (target: at most 20 ms each),
# each from the process starting to its exit, in a private X session. Prints the medians of 50 runs,
# and that of `snipjar --version` beside them: the start of the process alone, with no request.
# Usage: bench/app/command_line.sh [build folder]
set -euo pipefail
source "$(dirname "$0")/../session.sh"
write_settings_at_rest
"$build/bench/app/snipjar_seed_history" 1000 >/dev/null
snipjar="$build/src/app/snipjar"
"$snipjar" &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null || true' EXIT
for _ in $(seq 1 200); do
  [ -S "$XDG_RUNTIME_DIR/Snipjar/instance.socket" ] && break
  sleep 0.05
done

# Milliseconds of one run of the command given.
run_ms() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() {
  sort -n | sed -n "$((($1 + 1) / 2))p"
}

adds=()
lists=()
starts=()
for i in $(seq 1 50); do
  starts+=("$(run_ms "$snipjar" --version)")
  adds+=("$(run_ms "$snipjar" add --text "benchmark clip $i")")
  lists+=("$(run_ms "$snipjar" list --limit 20)")
done
echo "process start alone (snipjar --version, for comparison): median $(printf '%s\n' "${starts[@]}" | median 50) ms"
echo "snipjar add round trip: median $(printf '%s\n' "${adds[@]}" | median 50) ms (target <= 20 ms)"
echo "snipjar list --limit 20 round trip, $("$snipjar" list | wc -l) clips: median $(printf '%s\n' "${lists[@]}" | median 50) ms (target <= 20 ms)"
