#!/usr/bin/env bash
# The administrator's demonstration: three sample machines, each one's inventory collected into a
# share folder by BRANLIST.EXE as a logon script would, merged into one report; then what
# changed on one machine whose sound driver was updated in between.
#   tools/fleet_demo.sh
# Installs what is missing and builds, like tools/run.sh; the rest runs where Windows programs
# can run (here, or in the emulated x86 PC), in a prefix of its own (build/win32/fleet_wineprefix,
# or /var/brantovix/fleet_wineprefix in the emulated x86 PC).
# Leaves the share folder, the merged CSV and the HTML page in build/fleet/.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/tools/setup.sh"
"$top/tools/build.sh" >/dev/null
# In the emulated x86 PC the prefix lives on the guest's own storage, as the tests' does: making
# one on the shared checkout takes many minutes there.
if [ "$("$top/tools/guest/x86_mode.sh")" = guest ]; then
  export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-/var/brantovix/fleet_wineprefix}
fi
exec "$top/tools/guest/run_x86.sh" "$top/tools/fleet_demo/fleet_demo_in_prefix.sh"
