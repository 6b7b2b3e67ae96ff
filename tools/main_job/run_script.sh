#!/usr/bin/env bash
# Runs a VBScript or JScript program through the script host in the build's Windows 98-mode
# prefix, as a program of that machine would run it:
#   run_script.sh SCRIPT [ARGS...]
# The host is the build's copy of Wine's cscript.exe that Wine runs as an ordinary program (see
# native_script_host.sh). It is given the script by a relative path, from the script's own
# directory: the host fails silently on a Unix absolute path. Its output has CR LF line ends.
# Careful: an uncaught script error ends the host with exit code 0, so a caller checks that
# the script's last line arrived.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
host=${BRANTOVIX_SCRIPT_HOST:-$top/build/win32/tools/main_job/cscript.exe}
[ -f "$host" ] || { echo "run_script.sh: no script host at $host (build first)" >&2; exit 2; }
script=$1
shift
cd "$(dirname "$script")"
exec "$top/tools/wine/wine-run.sh" "$host" //nologo "$(basename "$script")" "$@"
