#!/usr/bin/env bash
# Line and branch coverage of src/ over the whole suite (every test the normal run has, X11 and
# PostgreSQL included), built without optimisation in build-coverage/. Prints gcovr's summary and
# writes build-coverage/coverage.txt (per file) and coverage.json (the summary).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
source scripts/build-env.sh
cmake -S . -B build-coverage -G Ninja "${snipjar_launcher[@]}" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="--coverage -fprofile-update=atomic -O0" \
  -DCMAKE_CXX_FLAGS="--coverage -fprofile-update=atomic -O0" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage \
  -DSNIPJAR_BUILD_TESTS=ON -DSNIPJAR_BUILD_BENCH=OFF -DSNIPJAR_SANITIZE=OFF -DSNIPJAR_DEBUG_IDENTITY=OFF \
  -DSNIPJAR_UPDATE_FEED_URL= -DSNIPJAR_UPDATE_PUBLIC_KEY= >/dev/null
cmake --build build-coverage -j "$(nproc)"
find build-coverage -name '*.gcda' -delete
# Notes of objects an earlier build made for targets or files that are gone would be merged with
# today's and break gcovr's merge.
(cd build-coverage && ninja -t targets all | sed 's/: .*//' | grep '\.o$' | sort -u >objects.txt &&
  find . -name '*.gcno' | sed 's#^\./##' | while read -r notes; do
    grep -qxF "${notes%.gcno}.o" objects.txt || rm -f "$notes"
  done)
# A failing test still counts what it ran; the summary says how many failed.
ctest --test-dir build-coverage -j "$(nproc)" --output-on-failure || echo "(some tests failed; coverage counts what ran)"
# Counters are updated atomically (the tests run many threads), yet a test process killed while it
# writes its counts can leave a damaged one: gcovr skips such lines rather than failing.
gcovr -r . --object-directory build-coverage --filter 'src/' \
  --exclude-unreachable-branches --exclude-throw-branches --gcov-ignore-parse-errors \
  --txt build-coverage/coverage.txt --json-summary build-coverage/coverage.json --print-summary
