#!/usr/bin/env bash
# The main job: installs what is missing, builds, and in the Windows 98-mode prefix provisions
# a sample Windows 98 SE machine (or the machine file named as the argument), registers
# Brantovix.dll with regsvr32, creates the Drivers object from a VBScript client through the
# script host and prints the inventory, with the cost of a first and a second run.
#   tools/run.sh [MACHINE_FILE]
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
"$top/tools/build.sh" >/dev/null
export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-$top/build/win32/wineprefix}
"$top/tools/wine/prefix.sh" start
trap '"$top/tools/wine/prefix.sh" stop' EXIT
"$top/tools/main_job/main_job.sh" "$@"
