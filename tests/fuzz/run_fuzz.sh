#!/bin/sh
# Runs a fuzz target on its corpus: run_fuzz.sh TARGET WORK_DIR ARG...
# New inputs go to WORK_DIR (the committed corpus, among the ARGs, is only
# read). Exits 77 (skipped) when this machine cannot run the target: a CPU
# without the instructions it was built for, or a kernel without 32-bit
# programs.
set -u
target=$1 work=$2
shift 2
case $target in
  *_v3)
    for flag in avx2 fma bmi2; do
      grep -qw $flag /proc/cpuinfo || { echo "no $flag on this CPU: skipped"; exit 77; }
    done ;;
esac
"$target" -help=1 >/dev/null 2>&1
case $? in
  0) ;;
  126|132) echo "$(basename "$target"): cannot run on this machine: skipped"; exit 77 ;;
  *) echo "$(basename "$target"): does not start"; exit 1 ;;
esac
rm -rf "$work" && mkdir -p "$work"
# libFuzzer's own exit code for a finding is 77, the suite's code for
# skipped: a finding must fail.
exec "$target" -error_exitcode=1 -print_final_stats=1 -artifact_prefix="$work/" "$work" "$@"
