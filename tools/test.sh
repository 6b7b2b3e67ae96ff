#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the native tests of the
# host build, then the Windows tests under Wine. Exits non-zero on any failure.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
"$top/tools/build.sh"
status=0
ctest --test-dir "$top/build/host" --output-on-failure -j "$(nproc)" || status=1
ctest --test-dir "$top/build/win32" --output-on-failure -j "$(nproc)" || status=1
exit $status
