#!/usr/bin/env bash
# Late binding as script users meet it: registers Brantovix.dll with regsvr32, provisions a
# machine (driver files, device tree, kernel stand-in with the real enumerator driver), then
# reads the object created by each ProgID with VBScript and JScript through the script host, and
# compares every line with what the same object gives early-bound through its vtable.
#   script_clients_test.sh DLL EARLY_BOUND_CLIENT SCRIPT_DIR PROVISIONER MACHINE_FILE
set -u
dll=$1 client=$2 scripts=$3 provisioner=$4 machine=$5
here=$(cd "$(dirname "$0")" && pwd)
run=${BRANTOVIX_WINE_RUN:?}
run_script=$here/../../tools/main_job/run_script.sh
export WINEPREFIX=${BRANTOVIX_PREFIX:?} WINEDEBUG=-all
work=$(mktemp -d)
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

windows_path() { winepath -w "$1" 2>/dev/null; }
cleanup() {
  "$run" "$provisioner" remove </dev/null >/dev/null 2>&1
  "$run" regsvr32 /u /s "$(windows_path "$dll")" </dev/null >/dev/null 2>&1
  rm -rf "$work"
}

"$run" regsvr32 /s "$(windows_path "$dll")" </dev/null >/dev/null 2>&1 || { fail "regsvr32 exit $?"; }
# Provisioned after registering: registration deletes the driver file where the stand-in goes.
"$run" "$provisioner" provision "$machine" </dev/null >/dev/null || fail "provisioning $machine: exit $?"

for prog_id in Brantovix.Drivers.1 Brantovix.Drivers; do
  "$run" "$client" "$prog_id" </dev/null 2>/dev/null | tr -d '\r' >"$work/early.txt"
  "$run_script" "$scripts/late_binding.vbs" "$prog_id" </dev/null 2>/dev/null | tr -d '\r' >"$work/vbs.txt"
  "$run_script" "$scripts/late_binding.js" "$prog_id" </dev/null 2>/dev/null | tr -d '\r' >"$work/js.txt"
  for out in early vbs js; do
    tail -n 1 "$work/$out.txt" | grep -qx END || { fail "$prog_id: $out client did not finish"; cat "$work/$out.txt"; }
  done
  grep -q '^size=[1-9]' "$work/early.txt" || fail "$prog_id: the prepared machine gave an empty list"
  for out in vbs js; do
    if ! diff <(grep -v '^notimpl' "$work/early.txt") <(grep -v '^notimpl' "$work/$out.txt") >"$work/diff.txt"; then
      fail "$prog_id: $out differs from the early-bound client"; cat "$work/diff.txt"
    fi
  done
  # The five changing methods fail everywhere: E_NOTIMPL early-bound and in JScript, error 445
  # in VBScript.
  for method in AddDataElement RemoveDataElementByIndex RemoveDataElementByName SetDataListValue LogDataListToFile; do
    grep -qx "notimpl $method 80004001" "$work/early.txt" || fail "$prog_id: early-bound $method"
    grep -qx "notimpl $method 445" "$work/vbs.txt" || fail "$prog_id: VBScript $method"
    grep -qx "notimpl $method 80004001" "$work/js.txt" || fail "$prog_id: JScript $method"
  done
  echo "$prog_id: $(grep -c '^name\[' "$work/early.txt") names read by every client"
done

cleanup
if [ $failures -ne 0 ]; then
  echo "$failures failure(s)"
  exit 1
fi
echo "script clients agree with the early-bound client"
