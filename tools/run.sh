#!/usr/bin/env bash
# The main job: installs what is missing, builds, registers Brantovix.dll with regsvr32 in the
# Windows 98-mode prefix, and creates a Drivers object through COM, printing every element of
# its list in index order.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
"$top/tools/build.sh" >/dev/null
export BRANTOVIX_PREFIX=$top/build/win32/wineprefix
"$top/tools/wine/prefix.sh" start
trap '"$top/tools/wine/prefix.sh" stop' EXIT
dll=$(WINEPREFIX=$BRANTOVIX_PREFIX WINEDEBUG=-all winepath -w "$top/build/win32/server/Brantovix.dll")
if ! "$top/tools/wine/wine-run.sh" regsvr32 /s "$dll"; then
  echo "regsvr32 could not register $dll" >&2
  exit 1
fi
"$top/tools/wine/wine-run.sh" "$top/build/win32/tools/inventory_client/inventory_client.exe"
