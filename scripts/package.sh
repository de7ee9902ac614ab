#!/usr/bin/env bash
# Builds the Debian package: a release configuration of the application alone (no tests, no
# benchmarks) in build-package/, then CPack, then lintian. Prints the path of the .deb.
#   scripts/package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-package}

./scripts/setup.sh

launcher=()
if command -v ccache >/dev/null 2>&1; then
    launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Linked with full RELRO, as Debian builds its programs. Only what the package holds is built:
# the program and its data files (CPack's install step then builds nothing more).
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSNIPJAR_BUILD_TESTS=OFF -DSNIPJAR_BUILD_BENCH=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    "-DCMAKE_EXE_LINKER_FLAGS=-Wl,-z,relro -Wl,-z,now" "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target snipjar snipjar_data

rm -f "$build"/snipjar_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(find "$build" -maxdepth 1 -name 'snipjar_*.deb' -print -quit)
[ -n "$deb" ] || { echo "package.sh: cpack made no package" >&2; exit 1; }

echo "== lintian" >&2
lintian --fail-on error "$deb" >&2
echo "$deb"
