#!/bin/sh
# Builds the shipped files, the two modules as 32-bit Windows DLLs, and
# installs them into DIST_DIR with their SHA-256 list, SHA256SUMS:
#   tools/release.sh [--win64] [BUILD_DIR [DIST_DIR]]
# (defaults build/release-win32 and dist). With --win64 the two 64-bit
# Windows DLLs are built too (preset win64, in BUILD_DIR with its trailing
# win32 made win64, or BUILD_DIR-win64) and installed beside them. The build
# is reproducible: the same sources give the same bytes, whatever the build
# folder.
set -eu
cd "$(dirname "$0")/.."
presets=win32
if [ "${1:-}" = "--win64" ]; then
  presets="win32 win64"
  shift
fi
build=${1:-build/release-win32}
dist=${2:-dist}

sh tools/setup.sh >/dev/null
dirs=""
for preset in $presets; do
  dir=$build
  if [ "$preset" = win64 ]; then
    case $build in
      *win32) dir=${build%win32}win64 ;;
      *) dir=$build-win64 ;;
    esac
  fi
  cmake --preset "$preset" -B "$dir" -DKIVO_TESTS=OFF >/dev/null
  cmake --build "$dir"
  dirs="$dirs $dir"
done
rm -rf "$dist"
for dir in $dirs; do
  cmake --install "$dir" --prefix "$dist" --component modules >/dev/null
done
(cd "$dist" && sha256sum $(ls) > SHA256SUMS)
cat "$dist/SHA256SUMS"
