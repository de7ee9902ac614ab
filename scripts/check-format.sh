#!/usr/bin/env bash
# Fails when a C++ file differs from the committed .clang-format style.
set -euo pipefail
cd "$(dirname "$0")/.."
files=$(git ls-files -co --exclude-standard -- '*.cpp' '*.h' | grep -E '^(src|tests|bench|fuzz)/' || true)
[ -z "$files" ] && exit 0
echo "$files" | xargs clang-format --dry-run --Werror
