#!/bin/sh
# Builds the shipped files, the two modules as 32-bit Windows DLLs, into
# dist/ with their SHA-256 list, dist/SHA256SUMS:
#   tools/release.sh [BUILD_DIR [DIST_DIR]]
# (defaults build/release-win32 and dist). The build is reproducible: the
# same sources give the same bytes, whatever the build folder.
set -eu
cd "$(dirname "$0")/.."
build=${1:-build/release-win32}
dist=${2:-dist}

sh tools/setup.sh >/dev/null
cmake --preset win32 -B "$build" -DKIVO_TESTS=OFF >/dev/null
cmake --build "$build" --target samplekit tclbridge

files="_samplekit.kivo3-510-win32.pyd tclbridge.kivo3-510-win32.pyd"
rm -rf "$dist"
mkdir -p "$dist"
for f in $files; do
  cp "$build/lib/$f" "$dist/$f"
done
(cd "$dist" && sha256sum $files > SHA256SUMS)
cat "$dist/SHA256SUMS"
