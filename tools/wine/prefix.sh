#!/usr/bin/env bash
# Manages the build's Wine prefix.
#   prefix.sh ensure   create the prefix if missing (32-bit, Windows 98 mode)
#   prefix.sh start    start its wineserver persistently, detached from the caller's pipes, and
#                      rebuild the provisioned machine's plug-and-play tree
#   prefix.sh up       what wine-run.sh does before every program: when no wineserver runs,
#                      start one that ends a few seconds after the last program, as wine's own
#                      would, and rebuild the tree; when one runs, nothing
#   prefix.sh stop     stop its wineserver (saves the registry) and wait until it is gone
#
# The plug-and-play tree: Wine keeps HKEY_DYN_DATA, where the device nodes live, only in the
# running wineserver, so every new wineserver starts without the nodes of a machine that
# tools/provisioner put into the prefix. Windows 98 builds that tree at every start; here the
# provisioner builds it again from its record ("provisioner restore"), whenever a wineserver
# starts for the prefix. Without a record there is nothing to rebuild and no program runs. A
# tree that cannot be rebuilt (a record from an older provisioner, no provisioner built) is
# reported on standard error and stops nothing: the prefix still starts, so that tests and
# the main job, which provision anew, still run.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
export WINEPREFIX=${BRANTOVIX_PREFIX:-$top/build/win32/wineprefix}
export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
provisioner=${BRANTOVIX_PROVISIONER:-$top/build/win32/tools/provisioner/provisioner.exe}
record=$WINEPREFIX/drive_c/windows/PROVISIONED-MACHINE.TXT
mkdir -p "$(dirname "$WINEPREFIX")"

# A new wineserver and the rebuilding of the tree happen under one lock, so that no program of
# the prefix starts in between. The lock's descriptor (8) is closed for every program started
# under it: a wineserver that inherited it would hold the lock for as long as it runs.
lock_start() {
  exec 8>"$WINEPREFIX/.brantovix-start.lock"
  flock 8
}

restore_tree() {
  [ -f "$record" ] || return 0
  if [ ! -f "$provisioner" ]; then
    echo "prefix.sh: a machine is provisioned, but there is no provisioner at $provisioner to rebuild its plug-and-play tree (build first)" >&2
    return 1
  fi
  local log
  log=$(mktemp)
  if wine "$provisioner" restore </dev/null >"$log" 2>&1 8>&-; then
    rm -f "$log"
    return 0
  fi
  tr -d '\r' <"$log" >&2
  rm -f "$log"
  echo "prefix.sh: the provisioned machine's plug-and-play tree could not be rebuilt" >&2
  return 1
}

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
  lock_start
  wineserver -p </dev/null >/dev/null 2>&1 8>&- || [ $? -eq 2 ]
  # The first program of a session starts Wine's helper processes (services, device host),
  # which inherit its standard handles and would keep a caller's pipes open: start them here,
  # detached.
  wine wineboot </dev/null >/dev/null 2>&1 8>&- || true
  restore_tree || true
  ;;
up)
  "$0" ensure
  lock_start
  # Exit code 0: this call started the wineserver (2: one runs already).
  if wineserver -p3 </dev/null >/dev/null 2>&1 8>&-; then
    restore_tree || true
  fi
  ;;
stop)
  wineserver -k </dev/null >/dev/null 2>&1 || true
  wineserver -w </dev/null >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX.lock"
  ;;
*) echo "usage: prefix.sh ensure|start|up|stop" >&2; exit 2 ;;
esac
