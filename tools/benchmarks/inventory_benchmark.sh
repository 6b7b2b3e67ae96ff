#!/usr/bin/env bash
# Runs the inventory benchmark (inventory_benchmark.cpp) where Windows programs run:
#   tools/benchmarks/inventory_benchmark.sh [runs] [--long]
# Natively in the build's prefix. In the emulated x86 PC (tools/guest/x86_mode.sh) in a prefix
# on the guest's own storage (/var/brantovix, a tmpfs), unless BRANTOVIX_PREFIX names another:
# on the shared checkout, placing its 1023 files alone took more than half an hour.
set -eu
top=$(cd "$(dirname "$0")/../.." && pwd)
if [ "$("$top/tools/guest/x86_mode.sh")" = guest ]; then
  export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-/var/brantovix/bench_prefix}
fi
exec "$top/tools/wine/wine-run.sh" "$top/build/win32/tools/benchmarks/inventory_benchmark.exe" "$@"
