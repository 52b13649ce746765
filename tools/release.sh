#!/bin/sh
# Builds the shipped files, the two modules as 32-bit Windows DLLs, and
# installs them into DIST_DIR with their SHA-256 list, SHA256SUMS:
#   tools/release.sh [BUILD_DIR [DIST_DIR]]
# (defaults build/release-win32 and dist). The build is reproducible: the
# same sources give the same bytes, whatever the build folder.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/release-win32}
dist=${2:-dist}

sh tools/setup.sh >/dev/null
cmake --preset win32 -B "$build" -DKIVO_TESTS=OFF >/dev/null
cmake --build "$build"
rm -rf "$dist"
cmake --install "$build" --prefix "$dist" --component modules >/dev/null
(cd "$dist" && sha256sum $(ls) > SHA256SUMS)
cat "$dist/SHA256SUMS"
