#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when it is missing: the i386
# architecture (32-bit Wine), Wine, the mingw-w64 i686 toolchain, GoogleTest sources, CMake and
# the host compilers for the enumerator driver, clang with its libFuzzer runtime for the fuzz
# drivers. Runs apt-get as root, or through sudo.
# gcc-multilib goes in the same install as Wine: wine32-tools:i386 depends on
# "gcc:i386 | gcc-multilib", and gcc:i386 cannot live beside the machine's own gcc, so without
# it apt gives up with "held broken packages".
#
# A host whose CPU mode runs no 32-bit x86 code (tools/guest/x86_mode.sh tells) runs Windows
# programs in an emulated x86 PC instead: setup then also installs QEMU and debootstrap, builds
# the guest once into the cache folder (tools/guest/guest_image.sh), and takes wine64-tools in
# place of wine32-tools, whose i386 winedump could not run here (the amd64 one reads the same
# images; the two packages conflict).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
mode=$("$here/guest/x86_mode.sh")
packages=(gcc-multilib wine wine32 wine64 libwine-dev
          g++-mingw-w64-i686 gcc-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
          googletest cmake make g++ gcc binutils file clang libclang-rt-14-dev)
if [ "$mode" = guest ]; then
  packages+=(wine64-tools qemu-system-x86 debootstrap e2fsprogs)
else
  packages+=(wine32-tools)
fi
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  case $p in wine32|wine32-tools) q="$p:i386" ;; *) q=$p ;; esac
  dpkg-query -W -f='${Status}' "$q" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  as_root dpkg --add-architecture i386
  missing+=(wine32)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
if [ "$mode" = guest ]; then
  "$here/guest/guest_image.sh" ensure
fi
