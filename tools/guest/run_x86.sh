#!/usr/bin/env bash
# Runs a command where Windows programs can run: here, when this host runs 32-bit x86 code,
# otherwise in the emulated x86 PC (guest_run.sh). x86_mode.sh decides; BRANTOVIX_X86 forces.
#   run_x86.sh COMMAND [ARGS...]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
mode=$("$here/x86_mode.sh")
if [ "$mode" = guest ]; then
  exec "$here/guest_run.sh" "$@"
fi
exec "$@"
