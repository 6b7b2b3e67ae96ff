#!/usr/bin/env bash
# The sample Windows 98 SE machine (machines/win98se.txt) end to end, in the tests' prefix:
#   sample_machine_test.sh main_job   the main job's whole output
#   sample_machine_test.sh examples   examples/list_drivers.vbs and .js: table and CSV file, with
#                                     only what Windows 98's script engines offer
#   sample_machine_test.sh restart    examples/list_drivers.vbs before and after the prefix
#                                     stops and starts again (stops the prefix's wineserver:
#                                     run it alone)
# Leaves the prefix as it found it: the machine removed, the DLL unregistered unless it was
# registered before, the version cache key deleted unless it was there before.
set -eu
mode=$1
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-$top/build/win32/test_wineprefix}
run=$top/tools/wine/wine-run.sh
provisioner=$top/build/win32/tools/provisioner/provisioner.exe
dll=$top/build/win32/server/Brantovix.dll
cache_key='HKLM\SOFTWARE\Orvane\Service\DCOM\Cache'
work=$top/build/win32/tests/end_to_end/$mode
mkdir -p "$work"
winpath() { WINEPREFIX=$BRANTOVIX_PREFIX WINEDEBUG=-all winepath -w "$1" 2>/dev/null; }
exists() { "$run" reg query "$1" </dev/null >/dev/null 2>&1; }

# What the sample machine's inventory must list, worked out by hand from machines/win98se.txt.
#
# The scan meets the files directory by directory (system, System32\Drivers, IoSubSys), pattern
# by pattern (*.vxd, *.drv, *.sys, *.386, *.wdm, *.pdr), and within a pattern in the order the
# directory search gives (Wine's: by name). The files that are in use and have a version stamp,
# in that order:
#    1 LPT.VXD       Ports\0001 PortDriver
#    2 ORV_DE.VXD    module ORV_DE: the enumerator driver, in use while it answers; the kernel
#                    stand-in in its place carries its version block (4.0.0.950) and the
#                    machine file's "enumerator" time
#    3 PCI.VXD       System\0006 DeviceVxDs
#    4 PPPMAC.VXD    Net\0001 DeviceVxDs; module PPPMAC
#    5 SB16.VXD      MEDIA\0000 Driver
#    6 SERIAL.VXD    Ports\0000 PortDriver; module SERIAL
#    7 SRAMMTD.VXD   MTD\0000 MTD
#    8 VJOYD.VXD     MEDIA\0001 Driver
#    9 VPOWERD.VXD   System\0005 DeviceVxDs
#   10 ESDI_506.PDR  (system, 4.10.0.1998) hdc\0000 PortDriver marks the first of the two rows;
#                    module ESDI_506 marks both
#   11 RTL8139.SYS   Net\0000 DeviceVxDs; version 5.0.2195.1 prints as 05.00.01.2195
#   12-17 APIX.VXD, CDTSD.VXD, CDVSD.VXD, DISKTSD.VXD, DISKVSD.VXD, VOLTRACK.VXD: modules
#   18 ESDI_506.PDR  (IoSubSys, 4.10.0.2222) module ESDI_506
#   19 HSFLOP.PDR    fdc\0000 PortDriver; module HSFLOP
# Left out: LMOUSE.DRV (Mouse\0000 MouseDriver: in use, but no version resource), MSJSTICK.DRV
# (MEDIA\0001's "Driver" comes first), UHCD.SYS (named only in "NTMPDriver"), and every file
# nothing names.
# The list gives the first file first, then the others from the last to the second.
expected_table() {
  cat <<'TABLE'
File name      Version stamp   Date
-------------  --------------  ----------
LPT.VXD        04.10.00.1998   1998/05/11
HSFLOP.PDR     04.10.00.2222   1999/04/23
ESDI_506.PDR   04.10.00.2222   1999/04/23
VOLTRACK.VXD   04.10.00.2222   1999/04/23
DISKVSD.VXD    04.10.00.2222   1999/04/23
DISKTSD.VXD    04.10.00.2222   1999/04/23
CDVSD.VXD      04.10.00.2222   1999/04/23
CDTSD.VXD      04.10.00.2222   1999/04/23
APIX.VXD       04.10.00.2222   1999/04/23
RTL8139.SYS    05.00.01.2195   2000/03/17
ESDI_506.PDR   04.10.00.1998   1998/05/11
VPOWERD.VXD    04.10.00.2222   1999/04/23
VJOYD.VXD      04.10.00.2222   1999/04/23
SRAMMTD.VXD    04.10.00.1998   1998/05/11
SERIAL.VXD     04.10.00.2222   1999/04/23
SB16.VXD       04.10.00.2222   1999/04/23
PPPMAC.VXD     04.10.00.2222   1999/04/23
PCI.VXD        04.10.00.2222   1999/04/23
ORV_DE.VXD     04.00.00.0950   1999/11/05
19 files in use, 38 elements
TABLE
}

# The same rows as the CSV file the examples write.
expected_csv() {
  echo "File,Version,Date"
  expected_table | sed -n '3,21p' | awk '{ print $1 "," $2 "," $3 }'
}

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# same WHAT EXPECTED_FILE ACTUAL_FILE
same() {
  if ! diff -u "$2" "$3" >"$work/diff" 2>&1; then
    fail "$1 differs from what is expected:"
    cat "$work/diff" >&2
  fi
}

registered_before=0
exists 'HKCR\Brantovix.Drivers.1' && registered_before=1
cache_before=0
exists "$cache_key" && cache_before=1
cleanup() {
  "$run" "$provisioner" remove </dev/null || echo "cleanup: the provisioner could not remove the machine" >&2
  if [ $registered_before -eq 0 ]; then "$run" regsvr32 /u /s "$(winpath "$dll")" </dev/null || true; fi
  if [ $cache_before -eq 0 ]; then "$run" reg delete "$cache_key" /f </dev/null >/dev/null 2>&1 || true; fi
}
trap cleanup EXIT

expected_table >"$work/expected_table.txt"
case $mode in
main_job)
  "$top/tools/main_job/main_job.sh" >"$work/output.txt" 2>"$work/errors.txt" || {
    cat "$work/output.txt" "$work/errors.txt" >&2
    fail "the main job failed"
  }
  cat "$work/output.txt"
  sed -n '/^File name /,/ files in use, /p' "$work/output.txt" >"$work/table.txt"
  same "the inventory table" "$work/expected_table.txt" "$work/table.txt"
  grep -qx 'Machine: machines/win98se.txt' "$work/output.txt" || fail "no machine line"
  grep -qx 'Registered Brantovix.dll (regsvr32)' "$work/output.txt" || fail "no registration line"
  grep -Eq '^Provisioned .*win98se\.txt: 34 driver files \(31 with a version resource\), 16 device nodes, 15 hardware keys, 29 class values, ' \
    "$work/output.txt" || fail "no provisioning line"
  grep -Eq '^  first run, version cache key deleted: +[0-9]+ ms$' "$work/output.txt" || fail "no first-run cost"
  grep -Eq '^  second run, stamps from the version cache: +[0-9]+ ms( \([0-9]+% of the first\))?$' \
    "$work/output.txt" || fail "no second-run cost"
  # The second run found every stamp in the cache the first one wrote.
  exists "$cache_key" || fail "the version cache key was not written"
  ;;
examples)
  "$run" regsvr32 /s "$(winpath "$dll")" </dev/null || fail "regsvr32 failed"
  "$run" "$provisioner" provision "$top/machines/win98se.txt" </dev/null >/dev/null || fail "provisioning failed"
  expected_csv >"$work/expected.csv"
  # Windows 98 ships Windows Script Host 1.0 with JScript 3.0 and VBScript 3.0 (5.0 in the second
  # edition). The JScript example runs behind a prelude that takes away the built-ins added
  # since (windows98_jscript.js); syntax and statements that came later cannot be taken away,
  # so the examples' text is searched for them:
  #   JScript 5.0: try, catch, throw, instanceof
  #   VBScript 5.0: Class, With, Execute, ExecuteGlobal, Eval, GetRef, RegExp, Escape,
  #                 Unescape, SetLocale, GetLocale
  if grep -Ev '^[[:space:]]*//' "$top/examples/list_drivers.js" | grep -Ewn 'try|catch|throw|instanceof'; then
    fail "list_drivers.js uses syntax that JScript 3.0 lacks"
  fi
  if grep -Eiv "^[[:space:]]*'" "$top/examples/list_drivers.vbs" |
      grep -Eiwn 'Class|With|Execute|ExecuteGlobal|Eval|GetRef|RegExp|Escape|Unescape|SetLocale|GetLocale'; then
    fail "list_drivers.vbs uses what VBScript 3.0 lacks"
  fi
  cat "$here/windows98_jscript.js" "$top/examples/list_drivers.js" >"$work/list_drivers.js"
  cp "$top/examples/list_drivers.vbs" "$work/list_drivers.vbs"
  for script in list_drivers.vbs list_drivers.js; do
    csv=$work/$script.csv
    rm -f "$csv"
    "$top/tools/main_job/run_script.sh" "$work/$script" "$(winpath "$csv")" | tr -d '\r' >"$work/$script.txt"
    cat "$work/$script.txt"
    same "$script's table" "$work/expected_table.txt" "$work/$script.txt"
    if [ -f "$csv" ]; then
      tr -d '\r' <"$csv" >"$work/$script.csv.txt"
      same "$script's CSV file" "$work/expected.csv" "$work/$script.csv.txt"
    else
      fail "$script wrote no CSV file"
    fi
  done
  ;;
restart)
  # Wine keeps HKEY_DYN_DATA, and with it the device nodes, only in the running wineserver;
  # starting the prefix again must rebuild them, as Windows 98 rebuilds the tree at every
  # start: through prefix.sh start, and when a program of the prefix finds no wineserver
  # running and wine-run.sh starts one. The test leaves a persistent wineserver running, as
  # the test fixture started it.
  trap 'cleanup; "$top/tools/wine/prefix.sh" start >/dev/null 2>&1 || true' EXIT
  "$run" regsvr32 /s "$(winpath "$dll")" </dev/null || fail "regsvr32 failed"
  "$run" "$provisioner" provision "$top/machines/win98se.txt" </dev/null >/dev/null || fail "provisioning failed"
  for when in before after_start after_program; do
    case $when in
    after_start)
      "$top/tools/wine/prefix.sh" stop
      "$top/tools/wine/prefix.sh" start
      ;;
    after_program) "$top/tools/wine/prefix.sh" stop ;;
    esac
    "$top/tools/main_job/run_script.sh" "$top/examples/list_drivers.vbs" | tr -d '\r' >"$work/$when.txt"
    same "the table ($when)" "$work/expected_table.txt" "$work/$when.txt"
  done
  ;;
*) echo "usage: sample_machine_test.sh main_job|examples|restart" >&2; exit 2 ;;
esac

[ $failures -eq 0 ] || { echo "$failures failure(s)" >&2; exit 1; }
echo "PASS"
