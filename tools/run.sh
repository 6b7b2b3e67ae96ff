#!/usr/bin/env bash
# The main job: installs what is missing, builds, and in the Windows 98-mode prefix provisions
# a sample Windows 98 SE machine (or the machine file named as the argument), registers
# Brantovix.dll with regsvr32, creates the Drivers object from a VBScript client through the
# script host and prints the inventory, with the cost of a first and a second run.
#   tools/run.sh [MACHINE_FILE]
# Where this host runs no 32-bit x86 code, everything after the build runs in the emulated x86
# PC (tools/guest/run_x86.sh); the prefix stays in the checkout's build folder either way.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
"$top/tools/build.sh" >/dev/null
if [ $# -gt 0 ] && [ -f "$1" ]; then
  # The machine file's folder is shared with the guest too, wherever it is.
  BRANTOVIX_GUEST_SHARES=$(cd "$(dirname "$1")" && pwd)${BRANTOVIX_GUEST_SHARES:+:$BRANTOVIX_GUEST_SHARES}
  export BRANTOVIX_GUEST_SHARES
fi
exec "$top/tools/guest/run_x86.sh" "$top/tools/main_job/main_job_in_prefix.sh" "$@"
