#!/bin/sh
# The Windows build's suite as one test of the native build: configures and
# builds the win32 preset into DIR and runs its tests, the Windows programs
# under Wine.
#   suite.sh CMAKE CTEST DIR
# Exits 77 (skipped) without the MinGW-w64 cross compiler, and, once every
# test that needs no Wine has passed, when Wine is missing or cannot run
# 32-bit programs here: the Windows programs were built but not run.
set -eu
cmake=$1 ctest=$2 dir=$3

if ! command -v i686-w64-mingw32-g++ >/dev/null 2>&1; then
  echo "win32 suite: no MinGW-w64 cross compiler (g++-mingw-w64-i686): skipped"
  exit 77
fi
"$cmake" --preset win32 -B "$dir" >/dev/null
"$cmake" --build "$dir"
"$ctest" --test-dir "$dir" --output-on-failure
if ! command -v wine >/dev/null 2>&1 || ! wine --version >/dev/null 2>&1; then
  echo "win32 suite: Wine is missing or cannot run 32-bit programs here:" \
       "the Windows programs were not run, so the suite counts as skipped"
  exit 77
fi
