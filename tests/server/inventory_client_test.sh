#!/usr/bin/env bash
# The main job's client against the server registered by regsvr32: it finds the class by its
# ProgID, creates it through COM and prints the component text and the whole list.
#   inventory_client_test.sh DLL CLIENT
# Leaves the prefix's registration as it found it.
set -eu
dll_unix=$1
client=$2
run=$BRANTOVIX_WINE_RUN
export WINEPREFIX=$BRANTOVIX_PREFIX WINEDEBUG=-all
class='HKCR\CLSID\{3F0A52C4-6D1E-11D3-9B27-0050DA4C81E6}'
categories='{B93E1F57-72A4-11D2-8C5D-00A0C9E48B12} {7DD95802-9882-11CF-9FA9-00AA006C42C4} {7DD95801-9882-11CF-9FA9-00AA006C42C4}'

exists() { "$run" reg query "$1" </dev/null >/dev/null 2>&1; }

dll=$(winepath -w "$dll_unix")
was_registered=0; exists "$class\\InprocServer32" && was_registered=1
class_existed=0; exists "$class" && class_existed=1
absent_categories=
for category in $categories; do
  exists "HKCR\\Component Categories\\$category" || absent_categories="$absent_categories $category"
done

restore() {
  if [ $was_registered = 1 ]; then
    "$run" regsvr32 /s "$dll" </dev/null || true
    return
  fi
  "$run" regsvr32 /u /s "$dll" </dev/null || true
  [ $class_existed = 1 ] || "$run" reg delete "$class" /f </dev/null >/dev/null 2>&1 || true
  for category in $absent_categories; do
    "$run" reg delete "HKCR\\Component Categories\\$category" /f </dev/null >/dev/null 2>&1 || true
  done
}
trap restore EXIT

fail() { echo "FAIL: $*"; echo "--- client output:"; echo "$output"; exit 1; }

output=
"$run" regsvr32 /s "$dll" </dev/null || fail "regsvr32 exit code $?"
output=$("$run" "$client" </dev/null | tr -d '\r') || fail "client exit code $?"

echo "$output" | grep -qx 'Component: Driver Class' || fail "no component text"
count=$(echo "$output" | sed -n 's/^\([0-9][0-9]*\) element(s)$/\1/p')
[ -n "$count" ] || fail "no element count"
lines=$(echo "$output" | grep -cE '^ *[0-9]+  .* = ' || true)
[ "$lines" = "$count" ] || fail "$lines element lines for a count of $count"
if [ "$count" = 0 ]; then
  echo "$output" | grep -q 'The Drivers list is empty' || fail "an empty list is not said plainly"
fi
echo "$output"
echo PASS
