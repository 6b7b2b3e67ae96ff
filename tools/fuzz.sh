#!/usr/bin/env bash
# Builds every libFuzzer driver (the host build) and runs each for SECONDS (default 180) from
# its seed corpus, one after the other, printing per driver: executions, coverage, crashes,
# seconds. With RUNS given, each driver stops after that many inputs or SECONDS, whichever
# comes first (tools/fuzz.sh 36000 10000000: ten million inputs each). The drivers run at the
# lowest priority, so that the machine stays usable. Exits non-zero when any driver found a
# crash; the input is kept under build/host/fuzz/work/NAME/crashes.
#   tools/fuzz.sh [SECONDS [RUNS]] [DRIVER...]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-180}
[ $# -gt 0 ] && shift
runs=
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then runs=$1; shift; fi
"$top/tools/setup.sh"
cmake -S "$top" -B "$top/build/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$top/build/host" -j "$(nproc)" >/dev/null
if [ $# -gt 0 ]; then
  fuzzers=()
  for name in "$@"; do fuzzers+=("$top/build/host/fuzz/${name}_fuzzer"); done
else
  fuzzers=("$top"/build/host/fuzz/*_fuzzer)
fi
status=0
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer" _fuzzer)
  BRANTOVIX_FUZZ_RUNS=$runs nice -n 19 "$top/fuzz/run_fuzzer.sh" "$fuzzer" "$top/build/host/fuzz/seeds/$name" "$seconds" \
    || status=1
done
exit $status
