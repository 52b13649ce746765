#!/bin/sh
# Builds the modules for release into one folder with SHA256SUMS and
# manifest.json:
#   tools/release.sh [--win64 | --all] [BUILD_DIR [DIST_DIR]]
# Without an option the shipped pair (32-bit Windows DLLs); --win64 adds the
# 64-bit Windows pair, --all every target. tools/release.py says more.
exec /usr/bin/python3 "$(dirname "$0")/release.py" "$@"
