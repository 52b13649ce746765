#!/bin/sh
# Installs the Debian packages the build, the tests and the demonstration need.
# Idempotent: nothing is installed when every package is present.
set -eu

# The sanitizer runtimes are named with the build machine's architecture:
# with i386 enabled for Wine, apt could otherwise pick the i386 package, which
# cannot stand beside the 32-bit libraries the 32-bit fuzz targets link.
#
# 32-bit x86 and aarch64 Linux code comes from Debian's cross compilers
# (whose libraries the 32-bit fuzz targets use too), and their programs run
# under qemu-user where the kernel cannot run them. gcc-multilib conflicts
# with every cross compiler, so it is not used.
native=$(dpkg --print-architecture)
PACKAGES="cmake ninja-build g++ gcc clang libclang-rt-14-dev:$native binutils
  g++-i686-linux-gnu g++-aarch64-linux-gnu qemu-user
  python3-cffi python3-pytest python3-numpy tcl8.6-dev tk8.6-dev
  libgtest-dev libbenchmark-dev xvfb
  python3-matplotlib python3-soundfile imagemagick x11-utils
  python3-tqdm
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386"
# bench/estimates.py: llvm-mca-14 (package llvm-14, which clang-14 only
# recommends) models the loops of every target.
PACKAGES="$PACKAGES llvm-14"
# 64-bit Windows (preset win64): its programs run under the 64-bit loader.
PACKAGES="$PACKAGES g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64"

missing=""
for p in $PACKAGES; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing="$missing $p"
done

if [ -n "$missing" ]; then
  echo "setup: installing$missing"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  # The 32-bit Windows programs of the cross build run under the 32-bit
  # Wine, which comes from the i386 architecture.
  if [ "$(dpkg --print-architecture)" != i386 ] &&
     ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
else
  echo "setup: all packages present"
fi
