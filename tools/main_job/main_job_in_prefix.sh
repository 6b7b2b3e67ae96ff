#!/usr/bin/env bash
# The main job in its prefix: starts the prefix's wineserver (rebuilding a provisioned
# machine's plug-and-play tree), runs main_job.sh and stops the wineserver again, which saves
# the registry. tools/run.sh runs this where Windows programs can run.
#   main_job_in_prefix.sh [MACHINE_FILE]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-$top/build/win32/wineprefix}
"$top/tools/wine/prefix.sh" start
trap '"$top/tools/wine/prefix.sh" stop' EXIT
"$here/main_job.sh" "$@"
