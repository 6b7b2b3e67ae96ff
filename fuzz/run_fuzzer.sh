#!/usr/bin/env bash
# Runs one libFuzzer driver: first over its seed corpus (every seed must pass), then for
# SECONDS more from those seeds, in a work folder of its own so that nothing is written into
# the source tree. With BRANTOVIX_FUZZ_RUNS set, the run also stops after that many inputs.
# Prints one line: driver, executions, coverage, crashes, seconds. Exits non-zero when any
# input crashed, leaked or tripped a sanitizer; the input is kept in the work folder.
#   fuzz/run_fuzzer.sh FUZZER SEED_DIR SECONDS [WORK_DIR]
set -u
fuzzer=$1 seeds=$2 seconds=$3
name=$(basename "$fuzzer" _fuzzer)
work=${4:-$(dirname "$fuzzer")/work/$name}
rm -rf "$work" && mkdir -p "$work/corpus" "$work/crashes"
log=$work/fuzz.log

if ! "$fuzzer" -runs=0 -artifact_prefix="$work/crashes/" "$seeds" >"$work/seeds.log" 2>&1; then
  echo "$name: a seed fails"; tail -n 30 "$work/seeds.log"; exit 1
fi
runs_limit=()
[ -n "${BRANTOVIX_FUZZ_RUNS:-}" ] && runs_limit=(-runs="$BRANTOVIX_FUZZ_RUNS")
# The search keeps two frames of each allocation's stack. The sanitizers follow frame pointers,
# and the C++ library's own functions keep none, so every deeper stack of an allocation made
# through them is partly garbage, new with each input: recorded for the life of the process,
# such stacks grew a long run by some 200 MB a million inputs, past libFuzzer's 2 GB limit well
# before ten million. A kept input run alone (NAME_fuzzer FILE) reports its stacks in full.
asan_options=${ASAN_OPTIONS:+$ASAN_OPTIONS:}malloc_context_size=2
start=$(date +%s)
ASAN_OPTIONS=$asan_options "$fuzzer" -max_total_time="$seconds" "${runs_limit[@]}" -print_final_stats=1 -artifact_prefix="$work/crashes/" \
  "$work/corpus" "$seeds" >"$log" 2>&1
status=$?
elapsed=$(( $(date +%s) - start ))
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
crashes=$(find "$work/crashes" -type f | wc -l)
echo "$name: ${runs:-0} executions, coverage ${cov:-0}, $crashes crashes ($elapsed s)"
if [ $status -ne 0 ] || [ "$crashes" -ne 0 ]; then
  grep -m 1 -A 20 'ERROR\|==[0-9]*==\|^registrar script:\|^enumerator request:' "$log"
  echo "full stacks: $fuzzer $work/crashes/FILE"
  exit 1
fi
