#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the native tests of the
# host build, then the Windows tests under Wine. Exits non-zero on any failure.
# The Windows tests run where Windows programs can (tools/guest/run_x86.sh): on this host, or,
# where it runs no 32-bit x86 code, in one boot of the emulated x86 PC for the whole suite.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
"$top/tools/build.sh"
status=0
ctest --test-dir "$top/build/host" --output-on-failure -j "$(nproc)" || status=1
"$top/tools/guest/run_x86.sh" ctest --test-dir "$top/build/win32" --output-on-failure -j "$(nproc)" || status=1
exit $status
