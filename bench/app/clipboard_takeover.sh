#!/usr/bin/env bash
# Time from the exit of the clipboard's owner to Snipjar owning the clipboard again, with a
# history of 10,000 clips, in a private X session (target: at most 20 ms).
# Usage: bench/app/clipboard_takeover.sh [build folder]
set -euo pipefail
source "$(dirname "$0")/../session.sh"
write_settings_at_rest
"$build/bench/app/snipjar_seed_history" 10000 --computers 10 >/dev/null
"$build/src/app/snipjar" 2>/dev/null &
app=$!
trap 'kill $app 2>/dev/null' EXIT
for _ in $(seq 1 100); do
  [ -S "$XDG_RUNTIME_DIR/Snipjar/instance.socket" ] && break
  sleep 0.05
done
"$build/bench/app/snipjar_bench_clipboard_takeover" 20
