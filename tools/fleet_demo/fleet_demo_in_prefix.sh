#!/usr/bin/env bash
# The fleet demonstration in its prefix, on a built tree (tools/fleet_demo.sh sees to the build):
# starts the prefix's wineserver, runs fleet_demo.sh, stops the wineserver.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-$top/build/win32/fleet_wineprefix}
"$top/tools/wine/prefix.sh" start
trap '"$top/tools/wine/prefix.sh" stop' EXIT
"$here/fleet_demo.sh" "$@"
