#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/) in a clang build of their own, replays the regression inputs
# under fuzz/regressions/, writes the seed corpora and runs every target for a bounded time.
# Fails when any target crashes, leaks, breaks one of its checks or runs out of time or memory.
#
#   scripts/fuzz.sh [TARGET...]          all targets when none is named (rtf_reader, uri_list, ...)
#
# Environment: SNIPJAR_FUZZ_SECONDS (30 per target), SNIPJAR_FUZZ_JOBS (targets run at once, 2),
# SNIPJAR_FUZZ_BUILD (build-fuzz). A crash leaves its input under <build>/fuzz-artifacts/<target>/;
# once fixed, copy it to fuzz/regressions/<target>/ so that it is replayed from then on.
set -euo pipefail

cd "$(dirname "$0")/.."
root=$PWD
build=${SNIPJAR_FUZZ_BUILD:-build-fuzz}
seconds=${SNIPJAR_FUZZ_SECONDS:-30}
jobs=${SNIPJAR_FUZZ_JOBS:-2}
export LC_ALL=C.UTF-8 LANG=C.UTF-8
# Leaks are reported; the undefined-behaviour checks stop at the first finding (-fno-sanitize-recover).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
export QT_QPA_PLATFORM=offscreen

started=$(date +%s)
source scripts/build-env.sh
# Debug keeps Qt's assertions, which a fuzzer should trip; -O1 -g1 keeps it fast and small.
CC=clang-14 CXX=clang++-14 cmake -S . -B "$build" -G Ninja "${snipjar_launcher[@]}" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS_DEBUG="-O1 -g1" -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1" \
  -DSNIPJAR_BUILD_TESTS=OFF -DSNIPJAR_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target snipjar_fuzzers
built=$(date +%s)

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for executable in "$build"/fuzz/fuzz_*; do
    [ -f "$executable" ] && [ -x "$executable" ] && targets+=("${executable##*/fuzz_}")
  done
fi

corpus=$build/fuzz-corpus
rm -rf "$corpus" "$build/fuzz-artifacts" "$build/fuzz-logs"
python3 fuzz/make-corpus.py "$corpus/seeds"
mkdir -p "$build/fuzz-logs"

failed=0
for target in "${targets[@]}"; do
  regressions=fuzz/regressions/$target
  if [ -d "$regressions" ] && ! "$build/fuzz/fuzz_$target" -runs=0 "$regressions" \
       >"$build/fuzz-logs/$target-regressions.log" 2>&1; then
    echo "FAIL $target: a regression input crashes again (see $build/fuzz-logs/$target-regressions.log)"
    tail -n 30 "$build/fuzz-logs/$target-regressions.log"
    failed=1
  fi
done

# One target's run; libFuzzer writes what it finds into the working corpus (first folder) and a
# crashing input into the artifacts folder.
run_target() {
  local target=$1
  local dict=()
  [ -f "fuzz/${target%%_*}.dict" ] && dict=(-dict="fuzz/${target%%_*}.dict")
  mkdir -p "$corpus/work/$target" "$build/fuzz-artifacts/$target"
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target/" "${dict[@]}" \
    "$corpus/work/$target" "$corpus/seeds/$target" >"$build/fuzz-logs/$target.log" 2>&1
}
export -f run_target
export build corpus seconds

printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_target {} || echo {} >>"$build/fuzz-logs/failed"'

printf '%-18s %10s %6s\n' target inputs result
for target in "${targets[@]}"; do
  log=$build/fuzz-logs/$target.log
  inputs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  result=ok
  if grep -qx "$target" "$build/fuzz-logs/failed" 2>/dev/null; then
    result=FAIL
    failed=1
  fi
  printf '%-18s %10s %6s\n' "$target" "${inputs:-?}" "$result"
done
for target in $(cat "$build/fuzz-logs/failed" 2>/dev/null); do
  echo
  echo "== $target failed; its input is in $build/fuzz-artifacts/$target/, the report:"
  grep -v '^#\|^INFO\|^\s*$' "$build/fuzz-logs/$target.log" | tail -n 40
done
echo "fuzz: build $((built - started)) s, runs $(($(date +%s) - built)) s"
exit $failed
