#!/usr/bin/env bash
# The fleet demonstration on a built tree and a running prefix:
#   fleet_demo.sh [OUTPUT_FOLDER]          (default: build/fleet)
# 1. Three machines log on in turn. Each is provisioned from machines/ and given its computer
#    name, and runs what its logon script runs: BRANLIST /FO CSV /OUT SHARE\ , which writes
#    SHARE\COMPUTERNAME.CSV.
#      OFFICE-01  machines/win98se.txt                        today's machine
#      OFFICE-02  machines/win98se_sb16_updated.txt           SB16.VXD updated
#      OFFICE-03  machines/win98se_network_card_replaced.txt  RTL8139.SYS gone, EL90X.SYS added
# 2. The administrator merges the share: BRANLIST /MERGE SHARE /OUT FLEET.CSV prints the
#    summary; BRANLIST /MERGE SHARE /FO HTML /OUT FLEET.HTM writes the page.
# 3. What changed on OFFICE-01 since its last run, after its sound driver was updated:
#    BRANLIST /COMPARE SHARE\OFFICE-01.CSV prints the change and exits 1.
# The machine is taken away and the DLL unregistered at the end; the files stay in the output
# folder. Fails when a step does not give what it should.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-$top/build/win32/fleet_wineprefix}
run=$top/tools/wine/wine-run.sh
provisioner=$top/build/win32/tools/provisioner/provisioner.exe
dll=$top/build/win32/server/Brantovix.dll
exe=$top/build/win32/server/BRANLIST.EXE
out=${1:-$top/build/fleet}
name_key='HKLM\System\CurrentControlSet\Control\ComputerName\ActiveComputerName'
for built in "$dll" "$exe" "$provisioner"; do
  [ -f "$built" ] || { echo "fleet_demo: $built is missing (build first)" >&2; exit 2; }
done
winpath() { WINEPREFIX=$BRANTOVIX_PREFIX WINEDEBUG=-all winepath -w "$1" 2>/dev/null; }
branlist() { "$run" "$exe" "$@" </dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

rm -rf "$out"
mkdir -p "$out/share"
share=$(winpath "$out/share")
"$run" regsvr32 /s "$(winpath "$dll")" </dev/null || { echo "fleet_demo: regsvr32 failed" >&2; exit 1; }
name_before=$("$run" reg query "$name_key" /v ComputerName </dev/null 2>/dev/null | tr -d '\r' |
  sed -n 's/.*REG_SZ[[:space:]]*//p')
finish() {
  "$run" "$provisioner" remove </dev/null >/dev/null 2>&1 || true
  "$run" regsvr32 /u /s "$(winpath "$dll")" </dev/null || true
  [ -z "$name_before" ] || "$run" reg add "$name_key" /v ComputerName /d "$name_before" /f </dev/null >/dev/null 2>&1 || true
}
trap finish EXIT

# log_on COMPUTER MACHINE_FILE: the machine as that computer, its inventory collected.
log_on() {
  "$run" "$provisioner" remove </dev/null >/dev/null 2>&1 || true
  "$run" "$provisioner" provision "$top/machines/$2" </dev/null >/dev/null
  "$run" reg add "$name_key" /v ComputerName /d "$1" /f </dev/null >/dev/null 2>&1
  echo "$1 (machines/$2) logs on:  BRANLIST /FO CSV /OUT $share\\"
  branlist /FO CSV /OUT "$share\\" || { echo "fleet_demo: BRANLIST failed on $1" >&2; exit 1; }
}

echo "1. Collecting the inventories into the share $out/share"
log_on OFFICE-01 win98se.txt
log_on OFFICE-02 win98se_sb16_updated.txt
log_on OFFICE-03 win98se_network_card_replaced.txt
ls "$out/share" | sed 's/^/   /'

echo
echo "2. BRANLIST /MERGE $share /OUT $(winpath "$out/fleet.csv")"
echo
branlist /MERGE "$share" /OUT "$(winpath "$out/fleet.csv")" | tee "$out/summary.txt"
branlist /MERGE "$share" /FO HTML /OUT "$(winpath "$out/fleet.htm")" >/dev/null
echo
echo "   All rows: $out/fleet.csv; the page: $out/fleet.htm"
grep -q '^  OFFICE-02: SB16.VXD 04.10.00.2301$' "$out/summary.txt" || { echo "fleet_demo: OFFICE-02 is not named" >&2; exit 1; }
grep -q '^  OFFICE-03: EL90X.SYS .*RTL8139.SYS (none)$' "$out/summary.txt" || { echo "fleet_demo: OFFICE-03 is not named" >&2; exit 1; }

echo
echo "3. OFFICE-01's sound driver is updated; BRANLIST /COMPARE $share\\OFFICE-01.CSV"
echo
"$run" "$provisioner" remove </dev/null >/dev/null 2>&1 || true
"$run" "$provisioner" provision "$top/machines/win98se_sb16_updated.txt" </dev/null >/dev/null
"$run" reg add "$name_key" /v ComputerName /d OFFICE-01 /f </dev/null >/dev/null 2>&1
status=0
branlist /COMPARE "$share\\OFFICE-01.CSV" | tee "$out/compare.txt" || status=$?
echo
echo "   exit status $status"
[ "$status" = 1 ] || { echo "fleet_demo: /COMPARE did not exit 1" >&2; exit 1; }
