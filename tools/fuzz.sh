#!/usr/bin/env bash
# Builds every libFuzzer driver (the host build) and runs each for SECONDS (default 180) from
# its seed corpus, one after the other, printing per driver: executions, coverage, crashes.
# Exits non-zero when any driver found a crash; the input is kept under
# build/host/fuzz/work/NAME/crashes.
#   tools/fuzz.sh [SECONDS]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-180}
"$top/tools/setup.sh"
cmake -S "$top" -B "$top/build/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$top/build/host" -j "$(nproc)" >/dev/null
status=0
for fuzzer in "$top"/build/host/fuzz/*_fuzzer; do
  name=$(basename "$fuzzer" _fuzzer)
  "$top/fuzz/run_fuzzer.sh" "$fuzzer" "$top/build/host/fuzz/seeds/$name" "$seconds" || status=1
done
exit $status
