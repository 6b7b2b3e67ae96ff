#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs an inventory in the Windows 98-mode
# prefix, printing every element of the Drivers list in index order.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
"$top/tools/build.sh" >/dev/null
export BRANTOVIX_PREFIX=$top/build/win32/wineprefix
"$top/tools/wine/prefix.sh" start
trap '"$top/tools/wine/prefix.sh" stop' EXIT
"$top/tools/wine/wine-run.sh" "$top/build/win32/tools/inventory_client/inventory_client.exe"
