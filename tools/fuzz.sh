#!/bin/sh
# Runs the fuzz targets (libFuzzer; the sanitize preset builds them, one per
# folder of tests/fuzz/corpus/, and an _m32 twin of each where it can).
#
#   tools/fuzz.sh [SECONDS [TARGET...]]
#       long runs: each TARGET (default: every fuzz_<routine>) for SECONDS
#       (default 300) from its committed corpus, new inputs and any crash into
#       build/sanitize/fuzz-long/<target>/; prints executions and coverage.
#   tools/fuzz.sh --run TARGET WORK_DIR ARG...
#       one run as the suite's tests make it, new inputs into WORK_DIR (the
#       committed corpus, among the ARGs, is only read). Exits 77 (skipped)
#       when this machine cannot run the target (a kernel without 32-bit
#       programs) or the target left out a table this processor cannot run.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)

# run TARGET WORK_DIR LOG ARG...: 0 passed, 1 failed, 77 skipped.
run() {
  target=$1 work=$2 log=$3
  shift 3
  "$target" -help=1 >/dev/null 2>&1
  case $? in
    0) ;;
    126|132) echo "$(basename "$target"): cannot run on this machine: skipped"; return 77 ;;
    *) echo "$(basename "$target"): does not start"; return 1 ;;
  esac
  mkdir -p "$work"
  # libFuzzer's own exit code for a finding is 77, the suite's code for
  # skipped: a finding must fail.
  ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1} \
  UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1} \
    "$target" -error_exitcode=1 -print_final_stats=1 -artifact_prefix="$work/" \
    "$work" "$@" >"$log" 2>&1 || return 1
  if grep '^left out:' "$log"; then return 77; fi
  return 0
}

if [ "${1:-}" = --run ]; then
  shift
  target=$1 work=$2
  shift 2
  log=$(mktemp)
  rm -rf "$work"
  status=0
  run "$target" "$work" "$log" "$@" || status=$?
  cat "$log"
  rm -f "$log"
  exit $status
fi

set -e
cd "$root"
seconds=${1:-300}
[ $# -eq 0 ] || shift
targets=${*:-$(for d in tests/fuzz/corpus/*/; do basename "$d" | sed 's/^/fuzz_/'; done)}

sh tools/setup.sh >/dev/null
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize --target $targets
status=0
for target in $targets; do
  routine=$(echo "$target" | sed -e 's/^fuzz_//' -e 's/_m32$//')
  work=build/sanitize/fuzz-long/$target
  log=build/sanitize/fuzz-long/$target.log
  mkdir -p "$work"
  result=0
  run "build/sanitize/bin/$target" "$work" "$log" -max_total_time="$seconds" -timeout=10 \
    "tests/fuzz/corpus/$routine" || result=$?
  [ $result -eq 0 ] || status=1
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1)
  echo "$target: ${execs:-?} executions in ${seconds} s, $cov edges, $ft features, $(ls "$work" | wc -l) new inputs ($log, status $result)"
done
exit $status
