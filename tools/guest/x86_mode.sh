#!/usr/bin/env bash
# Prints where Windows programs run on this host: "native" (Wine on the host itself) or "guest"
# (Wine in an emulated x86 PC, tools/guest/guest_run.sh).
#   x86_mode.sh
# BRANTOVIX_X86=native|guest forces one; auto (the default) probes the CPU mode once per host
# (cpu_mode_probe.c, built with the host's compiler) and remembers the answer in the cache
# folder. In the guest, guest_run.sh sets BRANTOVIX_X86=native.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
case "${BRANTOVIX_X86:-auto}" in
native|guest) echo "$BRANTOVIX_X86"; exit 0 ;;
auto) ;;
*) echo "x86_mode.sh: BRANTOVIX_X86 must be native, guest or auto, not '$BRANTOVIX_X86'" >&2; exit 2 ;;
esac
cache=${BRANTOVIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/brantovix}
answer=$cache/x86-mode-$(uname -r)-$(sha256sum "$here/cpu_mode_probe.c" | cut -c1-12)
if [ -f "$answer" ]; then
  cat "$answer"
  exit 0
fi
mkdir -p "$cache"
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
if ! cc -O1 -o "$probe/cpu_mode_probe" "$here/cpu_mode_probe.c" 2>"$probe/log"; then
  cat "$probe/log" >&2
  echo "x86_mode.sh: cannot build the CPU mode probe (is there a C compiler?)" >&2
  exit 2
fi
if "$probe/cpu_mode_probe" >/dev/null; then mode=native; else mode=guest; fi
echo "$mode" >"$answer.tmp" && mv "$answer.tmp" "$answer"
echo "$mode"
