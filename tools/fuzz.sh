#!/bin/sh
# Long runs of the fuzz targets, for minutes rather than the seconds the
# test suite gives them:
#   tools/fuzz.sh [SECONDS [TARGET...]]
# SECONDS per target (default 300); TARGETs are fuzz_<routine>[_v3|_m32]
# (default: the five SSE2 ones). Builds the sanitize preset, runs each target
# from its committed corpus into build/sanitize/fuzz-long/<target>/ (new
# inputs and any crash land there) and prints its executions and coverage.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-300}
[ $# -eq 0 ] || shift
targets=${*:-"fuzz_add fuzz_tostereo fuzz_lin2adcpm fuzz_adcpm2lin fuzz_ratecv"}

sh tools/setup.sh >/dev/null
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize --target $targets
status=0
for target in $targets; do
  routine=$(echo "$target" | sed -e 's/^fuzz_//' -e 's/_v3$//' -e 's/_m32$//')
  work=build/sanitize/fuzz-long/$target
  mkdir -p "$work"
  log=$work/run.log
  ASAN_OPTIONS=abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "build/sanitize/bin/$target" -max_total_time="$seconds" -timeout=10 -error_exitcode=1 \
    -print_final_stats=1 -artifact_prefix="$work/" "$work" "tests/fuzz/corpus/$routine" \
    > "$log" 2>&1 || status=1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1)
  echo "$target: ${execs:-?} executions in ${seconds} s, $cov edges, $ft features, corpus $(ls "$work" | grep -vc run.log) new inputs ($log)"
done
exit $status
