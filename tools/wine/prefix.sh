#!/usr/bin/env bash
# Manages the build's Wine prefix.
#   prefix.sh ensure   create the prefix if missing (32-bit, Windows 98 mode)
#   prefix.sh start    start its wineserver persistently, detached from the caller's pipes
#   prefix.sh stop     stop its wineserver (saves the registry) and wait until it is gone
set -eu
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=${BRANTOVIX_PREFIX:-$here/../../build/win32/wineprefix}
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$(dirname "$WINEPREFIX")"
case "${1:-ensure}" in
ensure)
  [ -f "$WINEPREFIX/.brantovix-ready" ] && exit 0
  exec 9>"$WINEPREFIX.lock"
  flock 9
  [ -f "$WINEPREFIX/.brantovix-ready" ] && exit 0
  wineboot -i </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f </dev/null >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.brantovix-ready"
  ;;
start)
  "$0" ensure
  wineserver -p </dev/null >/dev/null 2>&1 || [ $? -eq 2 ]
  # The first program of a session starts Wine's helper processes (services, device host),
  # which inherit its standard handles and would keep a caller's pipes open: start them here,
  # detached.
  wine wineboot </dev/null >/dev/null 2>&1 || true
  ;;
stop)
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX.lock"
  ;;
*) echo "usage: prefix.sh ensure|start|stop" >&2; exit 2 ;;
esac
