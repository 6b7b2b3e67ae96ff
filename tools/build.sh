#!/usr/bin/env bash
# Builds both halves: the host build (tools, enumerator driver image, native tests) in
# build/host, then the Windows build (Brantovix.dll and its tests) in build/win32.
set -eu
top=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
cmake -S "$top" -B "$top/build/host" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$top/build/host" -j "$jobs"
image=
[ -f "$top/build/host/enumerator_driver/ORV_DE.VXD" ] && image=$top/build/host/enumerator_driver/ORV_DE.VXD
cmake -S "$top" -B "$top/build/win32" -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DBRANTOVIX_ENUMERATOR_DRIVER_IMAGE="$image" >/dev/null
cmake --build "$top/build/win32" -j "$jobs"
