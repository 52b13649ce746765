#!/bin/sh
# Builds the Windows DLLs a second time, in another folder, and compares
# them byte for byte with the ones given:
#   reproducible.sh CMAKE DIR DLL... -- CMAKE_OPTION...
# The options name the generator and toolchain of the first build. Run from
# the source folder.
set -eu
cmake=$1 dir=$2
shift 2
dlls=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  dlls="$dlls $1"
  shift
done
[ $# -gt 0 ] && shift

rm -rf "$dir"
"$cmake" -S . -B "$dir" -DKIVO_TESTS=OFF -DKIVO_BENCH=OFF "$@" >/dev/null
"$cmake" --build "$dir" >/dev/null
passed=0 failed=0
for dll in $dlls; do
  again="$dir/lib/$(basename "$dll")"
  if cmp "$dll" "$again"; then
    passed=$((passed + 1))
  else
    echo "rebuilt $(basename "$dll") differs"
    failed=$((failed + 1))
  fi
done
rm -rf "$dir"
echo "reproducible: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
