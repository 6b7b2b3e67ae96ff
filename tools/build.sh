#!/usr/bin/env bash
# Builds both halves: the host build (tools, enumerator driver image, native tests) in
# build/host, then the Windows build (Brantovix.dll and its tests) in build/win32.
# Where this host runs no 32-bit x86 code (tools/guest/x86_mode.sh), the Windows build is still
# compiled here, but its tests run in the emulated x86 PC: their Wine prefix is then made there,
# on the guest's own storage (/var/brantovix), not by the build.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
if [ "$("$top/tools/guest/x86_mode.sh")" = guest ]; then
  prefix_options=(-DBRANTOVIX_TEST_PREFIX=/var/brantovix/test_wineprefix -DBRANTOVIX_PREFIX_AT_BUILD=OFF)
else
  prefix_options=(-DBRANTOVIX_TEST_PREFIX="$top/build/win32/test_wineprefix" -DBRANTOVIX_PREFIX_AT_BUILD=ON)
fi
cmake -S "$top" -B "$top/build/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$top/build/host" -j "$jobs"
image=
[ -f "$top/build/host/enumerator_driver/ORV_DE.VXD" ] && image=$top/build/host/enumerator_driver/ORV_DE.VXD
cmake -S "$top" -B "$top/build/win32" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBRANTOVIX_ENUMERATOR_DRIVER_IMAGE="$image" "${prefix_options[@]}" >/dev/null
cmake --build "$top/build/win32" -j "$jobs"
