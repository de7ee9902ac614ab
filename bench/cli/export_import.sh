#!/usr/bin/env bash
# `snipjar export` and `snipjar import` of a history of 10,000 clips, 1,000 of them distinct
# 1600 × 1200 JPEG photos (ten computers' histories of 1,000), on the store files without a
# running Snipjar: wall time and peak resident memory of each, for an import into a fresh profile
# and for a second import that finds everything already there. Memory must not grow with the
# history: the archive is streamed, one clip at a time.
# Usage: bench/cli/export_import.sh [build folder]
set -euo pipefail
source "$(dirname "$0")/../session.sh"
write_settings_at_rest
# Room for the photos: the byte limit is not what is measured here.
echo 'maxStoreBytes=5000000000' >>"$XDG_CONFIG_HOME/Snipjar/Snipjar.conf"
"$build/bench/app/snipjar_seed_history" 10000 --images --computers 10 >/dev/null
snipjar="$build/src/app/snipjar"
archive="$XDG_CACHE_HOME/history.tar"

# Runs the command under /usr/bin/time and prints its label, wall time and peak memory.
measure() {
  local label=$1 log
  shift
  log=$(mktemp)
  /usr/bin/time -v "$@" 2>"$log" >/dev/null
  echo "$label: $(sed -n 's/.*Elapsed (wall clock).*m:ss): *//p' "$log") wall," \
    "peak RSS $(($(sed -n 's/.*Maximum resident set size (kbytes): *//p' "$log") / 1024)) MB"
  rm -f "$log"
}

measure "export of $("$snipjar" list | wc -l) clips" "$snipjar" export "$archive"
echo "archive: $(($(stat -c %s "$archive") / 1048576)) MB, $(tar tf "$archive" | wc -l) members"
XDG_DATA_HOME=$(mktemp -d)
export XDG_DATA_HOME
measure "import into a fresh profile" "$snipjar" import "$archive"
measure "second import into the same profile" "$snipjar" import "$archive"
