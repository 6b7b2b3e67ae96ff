#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12, when it is missing: the i386
# architecture (32-bit Wine), Wine, the mingw-w64 i686 toolchain, GoogleTest sources, CMake and
# the host compilers for the enumerator driver, clang with its libFuzzer runtime for the fuzz
# drivers. Runs apt-get as root, or through sudo.
# gcc-multilib goes in the same install as Wine: wine32-tools:i386 depends on
# "gcc:i386 | gcc-multilib", and gcc:i386 cannot live beside the machine's own gcc, so without
# it apt gives up with "held broken packages".
set -eu
packages=(gcc-multilib wine wine32 wine64 wine32-tools libwine-dev
          g++-mingw-w64-i686 gcc-mingw-w64-i686 binutils-mingw-w64-i686 mingw-w64-tools
          googletest cmake make g++ gcc binutils file clang libclang-rt-14-dev)
as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  case $p in wine32|libwine-dev) q="$p:i386" ;; *) q=$p ;; esac
  [ "$p" = libwine-dev ] && q=$p
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
