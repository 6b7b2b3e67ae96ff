#!/usr/bin/env bash
# Runs one Windows program in the build's 32-bit Windows 98-mode prefix.
#   wine-run.sh [--nt] PROGRAM [ARGS...]
# --nt gives that program (by its file name) Windows NT (XP) version answers instead.
# The prefix is $BRANTOVIX_PREFIX (default: build/win32/wineprefix of this checkout); it is
# created on first use, under a lock, so parallel callers share one. When no wineserver runs
# for it, one is started first and a provisioned machine's plug-and-play tree is rebuilt in it
# (prefix.sh up), so that a program sees the machine as provisioned after any restart.
# Where this host runs no 32-bit x86 code (tools/guest/x86_mode.sh), the call runs whole in the
# emulated x86 PC (tools/guest/guest_run.sh), one boot per call.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
if [ "$("$here/../guest/x86_mode.sh")" = guest ]; then
  exec "$here/../guest/guest_run.sh" "$here/wine-run.sh" "$@"
fi
export BRANTOVIX_PREFIX=${BRANTOVIX_PREFIX:-$here/../../build/win32/wineprefix}
export WINEPREFIX=$BRANTOVIX_PREFIX
export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/prefix.sh" up
if [ "${1:-}" = "--nt" ]; then
  shift
  wine reg add "HKCU\\Software\\Wine\\AppDefaults\\$(basename "$1")" /v Version /d winxp /f \
    </dev/null >/dev/null 2>&1
fi
exec wine "$@"
