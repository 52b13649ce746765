#!/bin/sh
# Builds the modules again from a copy of the sources at another path and
# compares them byte for byte with the ones given:
#   reproducible.sh CMAKE WORK_DIR BUILD_DIR MODULE... -- CMAKE_OPTION...
# The copy (WORK_DIR/elsewhere/sources) holds the files of the checkout as
# they are now, and builds in the same folder below it as BUILD_DIR lies
# below the sources; the options name the generator and toolchain of the
# first build. Run from the source folder.
set -eu
cmake=$1 work=$2 build=$3
shift 3
modules=""
while [ $# -gt 0 ] && [ "$1" != "--" ]; do
  modules="$modules $1"
  shift
done
[ $# -gt 0 ] && shift

copy=$work/elsewhere/sources
rm -rf "$work"
mkdir -p "$copy"
git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$copy"
again=$copy/${build#"$(pwd)"/}
"$cmake" -S "$copy" -B "$again" -DKIVO_TESTS=OFF -DKIVO_BENCH=OFF "$@" >/dev/null
"$cmake" --build "$again" >/dev/null
passed=0 failed=0
for module in $modules; do
  if cmp "$module" "$again/lib/$(basename "$module")"; then
    passed=$((passed + 1))
  else
    echo "$(basename "$module") built elsewhere differs"
    failed=$((failed + 1))
  fi
done
rm -rf "$work"
echo "reproducible: $passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
