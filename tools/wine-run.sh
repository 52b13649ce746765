#!/bin/sh
# Runs a Windows program of the cross build under Wine, as the build's
# cross-compiling emulator: `tools/wine-run.sh PROGRAM.exe ARGS...`.
#
# Exits 77, which the cross build's tests report as skipped, when there is no
# Wine or it cannot run here (a kernel without 32-bit program support). The Wine prefix (WINEPREFIX, default a directory under TMPDIR) is
# made on first use; `tools/wine-run.sh --init` only makes it.
set -eu

if ! command -v wine >/dev/null 2>&1 || ! command -v wineboot >/dev/null 2>&1; then
  echo "wine-run: Wine is not installed: skipped" >&2
  exit 77
fi
if ! wine --version >/dev/null 2>&1; then
  echo "wine-run: Wine cannot run 32-bit programs on this machine: skipped" >&2
  exit 77
fi

export WINEPREFIX="${WINEPREFIX:-${TMPDIR:-/tmp}/kivo-wine-$(id -u)}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No .NET or HTML engine: the prefix is made without installer prompts.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"

if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  # One initialisation even when several tests start at once.
  flock "$WINEPREFIX.lock" sh -c \
    '[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1 </dev/null; wineserver -w'
fi

[ "${1:-}" = "--init" ] && exit 0
exec wine "$@"
