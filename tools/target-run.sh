#!/bin/sh
# Runs a test program of a build for ARCH: `tools/target-run.sh ARCH PROGRAM
# ARGS...`, ARCH x86_64, i386 (also i686) or aarch64; the cross builds use it
# as their emulator, the native build for the programs that test the
# implementation tables.
#
# The program runs natively where this machine can run it (an aarch64
# machine; for i386, a kernel that runs 32-bit programs). Where it cannot, or
# where it exits 77 because this processor lacks a feature of a table it was
# built with (an x86-64 processor without AVX2, say), it runs under QEMU
# user-mode with the processor QEMU emulates best, which has them all.
# KIVO_EMULATE=1 takes QEMU even where a native run would do. Exits 77
# (skipped) only when neither can run it all.
set -eu
arch=$1
shift

# A static 32-bit x86 program that only exits with status 0: whether the
# kernel runs 32-bit programs at all.
runs_i386() {
  probe=$(mktemp)
  printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000\000\000\000\000\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000\270\001\000\000\000\273\000\000\000\000\315\200' >"$probe"
  chmod +x "$probe"
  if "$probe" 2>/dev/null; then rm -f "$probe"; return 0; fi
  rm -f "$probe"
  return 1
}

case $arch in
  x86_64) qemu=qemu-x86_64 sysroot=/ ;;
  i386 | i686) arch=i386 qemu=qemu-i386 sysroot=/usr/i686-linux-gnu ;;
  aarch64) qemu=qemu-aarch64 sysroot=/usr/aarch64-linux-gnu ;;
  *) echo "target-run: unknown architecture $arch" >&2; exit 2 ;;
esac

native=no
if [ "${KIVO_EMULATE:-0}" != 1 ]; then
  case "$arch:$(uname -m)" in
    x86_64:x86_64 | aarch64:aarch64 | i386:i?86) native=yes ;;
    i386:x86_64) runs_i386 && native=yes ;;
  esac
fi
if [ "$native" = yes ]; then
  status=0
  "$@" || status=$?
  [ "$status" -eq 77 ] || exit "$status"
  echo "target-run: run again under $qemu, which emulates every feature" >&2
fi

if ! command -v $qemu >/dev/null 2>&1; then
  echo "target-run: this machine cannot run it all and $qemu is missing (Debian: qemu-user): skipped" >&2
  exit 77
fi
exec $qemu -cpu max -L "$sysroot" "$@"
