#!/usr/bin/env bash
# The main job, on a built tree and a running prefix (tools/run.sh sees to both):
#   main_job.sh [MACHINE_FILE]      (default: machines/win98se.txt)
# 1. registers Brantovix.dll with regsvr32;
# 2. provisions the machine (after registering: registration deletes the system directory's
#    ORV_DE.VXD, where the kernel stand-in goes);
# 3. deletes the version cache key and creates the object twice, timing each creation: the
#    first reads every driver file's version resource, the second takes them from the cache;
# 4. prints the inventory as the VBScript client examples/list_drivers.vbs reads it.
# The machine stays provisioned and the DLL registered; tools/provisioner/README.md says how
# to take them away.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-$top/build/win32/wineprefix}
run=$top/tools/wine/wine-run.sh
dll=$top/build/win32/server/Brantovix.dll
provisioner=$top/build/win32/tools/provisioner/provisioner.exe
cache_key='HKLM\SOFTWARE\Orvane\Service\DCOM\Cache'

machine=${1:-$top/machines/win98se.txt}
[ -f "$machine" ] || { echo "main_job: no machine file $machine" >&2; exit 2; }
machine=$(cd "$(dirname "$machine")" && pwd)/$(basename "$machine")
for built in "$dll" "$provisioner"; do
  [ -f "$built" ] || { echo "main_job: $built is missing (build first)" >&2; exit 2; }
done

# Runs a script through the script host; fails unless its last line matches $2.
script() {
  local output
  output=$("$here/run_script.sh" "$1" | tr -d '\r')
  if ! printf '%s\n' "$output" | tail -n 1 | grep -Eq "$2"; then
    printf '%s\n' "$output" >&2
    echo "main_job: $(basename "$1") did not finish (a script error ends the host silently)" >&2
    return 1
  fi
  printf '%s\n' "$output"
}

echo "Machine: ${machine#$top/}"
dll_path=$(WINEPREFIX=$BRANTOVIX_PREFIX winepath -w "$dll" 2>/dev/null)
if ! "$run" regsvr32 /s "$dll_path" </dev/null; then
  echo "main_job: regsvr32 could not register $dll" >&2
  exit 1
fi
echo "Registered Brantovix.dll (regsvr32)"
"$run" "$provisioner" provision "$machine" </dev/null | tr -d '\r'

"$run" reg delete "$cache_key" /f </dev/null >/dev/null 2>&1 || true
first=$(script "$here/creation_cost.js" '^ms [0-9]+ elements')
second=$(script "$here/creation_cost.js" '^ms [0-9]+ elements')

echo
echo "Drivers in use, as a VBScript client reads them (examples/list_drivers.vbs):"
echo
script "$top/examples/list_drivers.vbs" ' files in use, [0-9]+ elements$'

echo
echo "Cost of an inventory (one object creation, in its own process):"
printf '%s\n%s\n' "$first" "$second" | awk '
  NR == 1 { cold = $2 }
  NR == 2 { warm = $2 }
  END {
    printf "  %-44s %5d ms\n", "first run, version cache key deleted:", cold
    printf "  %-44s %5d ms", "second run, stamps from the version cache:", warm
    if (cold > 0) printf " (%d%% of the first)", warm * 100 / cold
    printf "\n"
  }'
