#!/usr/bin/env bash
# An independent reader accepts the enumerator driver image: winedump -x reads its LE
# header, both objects and both name tables, and file(1) recognises a VxD.
#   orv_de_winedump_test.sh ORV_DE.VXD
set -u
image=$1
report=$(winedump -x "$image" 2>&1) || { echo "winedump failed:"; echo "$report"; exit 1; }
status=0
expect() {
  if ! grep -Eq -- "$1" <<<"$report"; then
    echo "winedump does not report: $1"
    status=1
  fi
}
expect '^[[:space:]]*Magic: +454c \(LE\)$'
expect '^[[:space:]]*CPU type: +Intel 80386$'
expect '^[[:space:]]*Target operating system: +Windows 386$'
expect '^[[:space:]]*Module type flags: +00038000$'
expect '^[[:space:]]*Object table entries: +2$'
expect '^[[:space:]]*VxD identifier: +0$'
expect '^[[:space:]]*VxD DDK version: +400$'
expect '^[[:space:]]*0001 00000000 [0-9a-f]{8} 00002047 00000001 00000001 '
expect '^[[:space:]]*0002 [0-9a-f]{8} [0-9a-f]{8} 00002017 00000002 00000001 '
expect '^[[:space:]]*Preloaded$'
expect '^[[:space:]]*Discardable$'
expect '^[[:space:]]*0: ORV_DE$'
expect '^[[:space:]]*1: _The_DDB$'
expect '^[[:space:]]*0: Virtual Device Driver ORV_DE$'
expect '^Done dumping '
# The VxD resource the header points at is the 12-byte header plus the version block.
size=$(grep -E '^[[:space:]]*Size of VxD resource table:' <<<"$report" | awk '{print $NF}')
[ "${size:-0}" -gt 12 ] || { echo "no VxD resource in the header (size '$size')"; status=1; }
kind=$(file -b "$image")
[[ $kind == *"LE executable for MS Windows (VxD)"* ]] || { echo "file(1) says: $kind"; status=1; }
[ $status -eq 0 ] && echo "winedump and file accept $image"
exit $status
