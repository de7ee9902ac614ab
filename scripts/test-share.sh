#!/usr/bin/env bash
# The test share: lines of C++, shell and Python under tests/ over lines of C++ under src/ (blank
# lines and comments included, generated files excluded: only what git tracks). Fuzz targets
# (fuzz/) and benchmarks (bench/) are counted apart.
set -euo pipefail
cd "$(dirname "$0")/.."
count() { git ls-files -- "$@" | xargs -r cat | wc -l; }
src=$(count 'src/*.cpp' 'src/*.h')
tests=$(count 'tests/*.cpp' 'tests/*.h' 'tests/*.sh' 'tests/*.py')
fuzz=$(count 'fuzz/*.cpp' 'fuzz/*.h' 'fuzz/*.sh' 'fuzz/*.py')
bench=$(count 'bench/*.cpp' 'bench/*.h' 'bench/*.sh' 'bench/*.py')
awk -v t="$tests" -v s="$src" -v f="$fuzz" -v b="$bench" 'BEGIN {
  printf "test share: %d lines of tests / %d lines of src = %.2f (fuzz targets %d lines, benchmarks %d lines)\n", t, s, t / s, f, b }'
