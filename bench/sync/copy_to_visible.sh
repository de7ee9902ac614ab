#!/usr/bin/env bash
# From a copy on one computer to the clip being in the other computer's history: snipjar-server on
# the loopback address over a private PostgreSQL server, two running snipjar processes with their
# own X displays, folders and device ids, each signed in with `snipjar sync sign-in`; 50 copies with
# xclip on the first, one after another; the second's synced store is polled with sqlite3 every
# ~5 ms. Prints median, p90 and max (target: median <= 300 ms, carried by the service's push).
# Usage: bench/sync/copy_to_visible.sh [build folder]
set -euo pipefail
source "$(dirname "$0")/../session.sh"
snipjar="$build/src/app/snipjar"
copies=50

work=$(mktemp -d -p /tmp snipjar-bench-sync.XXXXXX)
chmod 755 "$work" # the server runs as another user when we are root
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  "$root/tests/support/pg-cluster.sh" stop "$work/pg" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$work/pg"
"$root/tests/support/pg-cluster.sh" init "$work/pg" "$port"
"$root/tests/support/pg-cluster.sh" psql "$work/pg" \
  -c "CREATE ROLE bench_service LOGIN PASSWORD 'bench-service'; GRANT CREATE ON DATABASE snipjar TO bench_service"
server=("$build/src/server/snipjar-server" --database "postgresql://bench_service@/snipjar?host=$work/pg&port=$port&password=bench-service")
"${server[@]}" init >/dev/null
printf 'bench-password\n' | "${server[@]}" add-user bench >/dev/null
"${server[@]}" serve --listen 127.0.0.1:0 >"$work/server.out" 2>"$work/server.log" &
pids+=($!)
for _ in $(seq 1 200); do
  grep -q '^listening on ' "$work/server.out" && break
  sleep 0.05
done
address="http://$(sed -n 's/^listening on //p' "$work/server.out")"

# A profile: its folders and settings, signed in; its environment goes to profile_env_<name>. No
# keyring (the bus address names no socket): the device token is kept in the private file.
make_profile() {
  local name=$1 device=$2 display=$3 dir="$work/$1"
  mkdir -p -m 700 "$dir/runtime" "$dir/data" "$dir/cache" "$dir/config/Snipjar"
  printf '[General]\ndidOnboard=true\ndidConfigureLoginItem=false\nsyncEnabled=true\n' >"$dir/config/Snipjar/Snipjar.conf"
  chmod 600 "$dir/config/Snipjar/Snipjar.conf"
  eval "profile_env_$name=(XDG_RUNTIME_DIR=$dir/runtime XDG_DATA_HOME=$dir/data XDG_CACHE_HOME=$dir/cache \
    XDG_CONFIG_HOME=$dir/config SNIPJAR_DEVICE_ID=$device DISPLAY=$display \
    DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/no-bus)"
  eval "printf 'bench-password\n' | env \"\${profile_env_$name[@]}\" \"$snipjar\" sync sign-in \"$address\" bench" \
    >/dev/null
}

# The second computer's display.
exec 4>"$work/displayfd"
Xvfb -displayfd 4 -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 4>&-
for _ in $(seq 1 200); do
  [ -s "$work/displayfd" ] && break
  sleep 0.05
done
second_display=":$(head -n1 "$work/displayfd")"

make_profile first 0BE4C000-0000-4000-8000-000000000001 "$DISPLAY"
make_profile second 0BE4C000-0000-4000-8000-000000000002 "$second_display"
for name in first second; do
  eval "env \"\${profile_env_$name[@]}\" \"$snipjar\"" 2>"$work/$name.log" &
  pids+=($!)
done
for name in first second; do
  for _ in $(seq 1 400); do
    [ -S "$work/$name/runtime/Snipjar/instance.socket" ] && break
    sleep 0.05
  done
done
store="$work/second/data/Snipjar/history-v2.store"

# Milliseconds until the second's store holds the title; gives up after 60 s.
wait_visible_ms() {
  local title=$1 start=$2 now
  while :; do
    if [ -f "$store" ] &&
      [ "$(sqlite3 -readonly "$store" "SELECT count(*) FROM ClipItem WHERE title = '$title'" 2>/dev/null || echo 0)" != 0 ]; then
      now=$(date +%s%N)
      echo $(((now - start) / 1000000))
      return 0
    fi
    now=$(date +%s%N)
    if [ $(((now - start) / 1000000000)) -ge 60 ]; then
      echo "copy_to_visible: '$title' did not arrive within 60 s" >&2
      cat "$work/first.log" "$work/second.log" >&2
      return 1
    fi
    sleep 0.005
  done
}

# A first copy that waits for both to be connected and in step.
printf 'warm-up copy' | DISPLAY="$DISPLAY" xclip -selection clipboard 2>/dev/null
wait_visible_ms 'warm-up copy' "$(date +%s%N)" >/dev/null

times=()
for i in $(seq 1 "$copies"); do
  title="bench copy $i $RANDOM"
  start=$(date +%s%N)
  printf '%s' "$title" | DISPLAY="$DISPLAY" xclip -selection clipboard 2>/dev/null
  times+=("$(wait_visible_ms "$title" "$start")")
done
sorted=$(printf '%s\n' "${times[@]}" | sort -n)
at() { sed -n "$1p" <<<"$sorted"; }
echo "copy on one computer to visible on the other, $copies copies through snipjar-server on loopback:" \
  "median $(at $(((copies + 1) / 2))) ms, p90 $(at $(((copies * 9 + 9) / 10))) ms, max $(at "$copies") ms (target: median <= 300 ms)"
