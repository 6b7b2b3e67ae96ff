#!/usr/bin/env sh
# Makes the script host that the main job and the script tests run: a copy of Wine's cscript.exe
# that Wine loads as an ordinary program instead of one of its own builtins.
#   native_script_host.sh WINE_CSCRIPT_EXE OUTPUT_EXE
#
# Why: on Windows 98 the script host is an ordinary program, and a program's open of
# "\\.\NAME.vxd" loads that virtual device. Wine serves that open only in a process whose main
# program is not one of its builtins: only there does it load its 16-bit kernel
# (krnl386.exe16), which holds the VxD open. Wine's own cscript.exe is a builtin, so in it
# the enumerator driver never opens and the inventory sees no loaded drivers. Wine recognises
# its builtins by the 16 bytes "Wine builtin DLL" at offset 0x40 of the DOS stub; the copy has
# them cleared and is otherwise the same program.
set -eu
source=$1 output=$2
mark=$(dd if="$source" bs=1 skip=64 count=16 2>/dev/null)
if [ "$mark" != "Wine builtin DLL" ]; then
  echo "native_script_host.sh: $source does not carry Wine's builtin mark at offset 0x40" >&2
  exit 1
fi
cp "$source" "$output.tmp"
dd if=/dev/zero of="$output.tmp" bs=1 seek=64 count=16 conv=notrunc 2>/dev/null
mv "$output.tmp" "$output"
