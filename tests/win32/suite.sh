#!/bin/sh
# The Windows build's suite as one test of the native build: configures and
# builds the win32 preset into DIR and runs its tests under Wine.
#   suite.sh CMAKE CTEST DIR
# Exits 77 (skipped) without the MinGW-w64 cross compiler, and without Wine
# once the build has succeeded: the Windows programs were built but not run.
set -eu
cmake=$1 ctest=$2 dir=$3

if ! command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  echo "win32 suite: no MinGW-w64 cross compiler (g++-mingw-w64-i686): skipped"
  exit 77
fi
"$cmake" --preset win32 -B "$dir" >/dev/null
"$cmake" --build "$dir"
if ! command -v wine >/dev/null 2>&1; then
  echo "win32 suite: built, but Wine is not installed: its tests skipped"
  exit 77
fi
"$ctest" --test-dir "$dir" --output-on-failure
