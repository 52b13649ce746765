#!/bin/sh
# Runs a program of a Linux cross build, as the build's cross-compiling
# emulator: `tools/target-run.sh ARCH PROGRAM ARGS...`, ARCH i386 or aarch64.
#
# The program runs natively where this machine can run it (an aarch64
# machine; for i386, a kernel that runs 32-bit programs), else under QEMU
# user-mode with the cross toolchain's libraries. KIVO_EMULATE=1 takes QEMU
# even where a native run would do. Exits 77 (skipped) only when neither a
# native run nor QEMU can be had.
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

native=no
if [ "${KIVO_EMULATE:-0}" != 1 ]; then
  case "$arch:$(uname -m)" in
    aarch64:aarch64 | i386:i?86) native=yes ;;
    i386:x86_64) runs_i386 && native=yes ;;
  esac
fi
[ "$native" = yes ] && exec "$@"

case $arch in
  i386) qemu=qemu-i386 sysroot=/usr/i686-linux-gnu ;;
  aarch64) qemu=qemu-aarch64 sysroot=/usr/aarch64-linux-gnu ;;
  *) echo "target-run: unknown architecture $arch" >&2; exit 2 ;;
esac
if ! command -v $qemu >/dev/null 2>&1; then
  echo "target-run: this machine cannot run $arch programs and $qemu is missing (Debian: qemu-user): skipped" >&2
  exit 77
fi
exec $qemu -L "$sysroot" "$@"
