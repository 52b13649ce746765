#!/bin/sh
# Runs a Windows program of the cross build under Wine, as the build's
# cross-compiling emulator: `tools/wine-run.sh PROGRAM.exe ARGS...`.
#
# The loader follows the program's PE machine: 32-bit x86 programs run
# through `wine` (Debian's wine32), x86-64 programs through the 64-bit
# loader (KIVO_WINE64, default /usr/lib/wine/wine64, Debian's wine64) with
# WINEARCH=win64. Only the 64-bit loader runs where the kernel runs no 32-bit
# programs, and `wine` starts the 32-bit one whenever wine32 is installed, so
# each bitness is judged by its own loader. Exits 77, which the cross build's
# tests report as skipped, when that loader is missing or cannot run here.
#
# The Wine prefix (WINEPREFIX, default a directory under TMPDIR, one per
# bitness) is made on first use; `tools/wine-run.sh --init PROGRAM.exe` only
# makes it, for the program's bitness.
set -eu

skip() {
  echo "wine-run: $*: skipped" >&2
  exit 77
}

init=false
if [ "${1:-}" = "--init" ]; then
  init=true
  shift
fi
[ $# -gt 0 ] || { echo "usage: wine-run.sh [--init] PROGRAM.exe [ARGS...]" >&2; exit 2; }

# The PE machine field: a 2-byte word at 4 past the offset stored at 0x3C.
le() { od -An -tu1 -j "$2" -N "$3" "$1" | awk '{ v = 0; for (i = NF; i > 0; i--) v = v * 256 + $i; print v }'; }
pe=$(le "$1" 60 4)
machine=$(le "$1" $((pe + 4)) 2)

case "$machine" in
  332)    # 0x14C, 32-bit x86
    if ! command -v wine >/dev/null 2>&1 || ! command -v wineboot >/dev/null 2>&1; then
      skip "Wine is not installed"
    fi
    wine --version >/dev/null 2>&1 || skip "Wine cannot run 32-bit programs on this machine"
    loader=wine
    export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/kivo-wine-$(id -u)}"
    ;;
  34404)  # 0x8664, x86-64
    loader=${KIVO_WINE64:-/usr/lib/wine/wine64}
    [ -x "$loader" ] || skip "no 64-bit Wine loader $loader (Debian: wine64)"
    "$loader" --version >/dev/null 2>&1 || skip "the 64-bit Wine loader $loader cannot run here"
    export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/kivo-wine64-$(id -u)}"
    export WINEARCH=win64
    # Programs Wine starts on its own (wineboot's) use the same loader.
    export WINELOADER="$loader"
    ;;
  *)
    echo "wine-run: $1 is not a 32-bit x86 or x86-64 Windows program (machine $machine)" >&2
    exit 2
    ;;
esac

export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or HTML engine: the prefix is made without installer prompts.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # One initialisation even when several tests start at once.
  WINE_RUN_LOADER=$loader flock "$WINEPREFIX.lock" sh -c \
    '[ -f "$WINEPREFIX/system.reg" ] || "$WINE_RUN_LOADER" wineboot -i >/dev/null 2>&1 </dev/null; wineserver -w'
fi

$init && exit 0
exec "$loader" "$@"
