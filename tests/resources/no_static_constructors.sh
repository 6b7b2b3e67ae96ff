#!/usr/bin/env bash
# Brantovix.dll starts at DllMain, without the compiler runtime's start-up objects, so nothing
# would run a static constructor: fails when any object that goes into the DLL has one.
#   no_static_constructors.sh NM FILE...   (a FILE argument may be a ;-separated list)
set -u
nm=$1
shift
files=()
for argument in "$@"; do
  IFS=';' read -r -a parts <<<"$argument"
  files+=("${parts[@]}")
done
symbols=$("$nm" "${files[@]}") || { echo "cannot read the symbols of ${files[*]}"; exit 1; }
found=$(grep -E '_GLOBAL__sub_[ID]' <<<"$symbols")
if [ -n "$found" ]; then
  echo "static constructors or destructors in the DLL's objects:"
  echo "$found"
  exit 1
fi
echo "no static constructors in ${#files[@]} files"
