#!/usr/bin/env bash
# Runs one command in the emulated x86 PC (a Debian guest under QEMU, made by guest_image.sh),
# as if it ran here:
#   guest_run.sh COMMAND [ARGS...]
# - the checkout, the working directory and the folders in BRANTOVIX_GUEST_SHARES
#   (colon-separated) are shared with the guest at the same paths, and the command starts in
#   the same working directory, as the same user, with the variables that matter
#   (BRANTOVIX_*, WINE*, CTEST_*, GTEST_*, LANG, LC_*, TERM, CI);
# - its standard output and error stream here as it runs, and its exit status is this script's;
# - BRANTOVIX_GUEST_TIMEOUT (seconds, default 3600) limits the whole run: past it the guest is
#   stopped and the run fails;
# - a guest that does not boot, or ends without recording the command's exit status, fails the
#   run (exit 125), never passes it;
# - no QEMU process outlives this script, on Ctrl-C or a kill too.
# In the guest /var/brantovix is a tmpfs: guest-local storage for what must not cross the
# share (the tests' Wine prefix). BRANTOVIX_X86 is native there: the guest runs 32-bit code.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
[ $# -gt 0 ] || { echo "usage: guest_run.sh COMMAND [ARGS...]" >&2; exit 2; }
timeout=${BRANTOVIX_GUEST_TIMEOUT:-3600}
memory=${BRANTOVIX_GUEST_MEMORY:-6144}
cpus=${BRANTOVIX_GUEST_CPUS:-$(nproc)}
cpu_model=${BRANTOVIX_GUEST_CPU_MODEL:-max,smap=off,smep=off}

"$here/guest_image.sh" ensure
guest=$("$here/guest_image.sh" path)
touch "$guest"   # in use: kept while clones of this recipe boot it

mkdir -p "$top/build/guest"
job=$(mktemp -d "$top/build/guest/job.XXXXXX")
qemu_pid=
readers=()
finish() {
  trap - EXIT INT TERM HUP
  if [ -n "$qemu_pid" ] && kill -0 "$qemu_pid" 2>/dev/null; then
    kill "$qemu_pid" 2>/dev/null || true
    wait "$qemu_pid" 2>/dev/null || true
  fi
  for reader in "${readers[@]}"; do kill "$reader" 2>/dev/null || true; done
  rm -rf "$job"
}
trap finish EXIT
trap 'echo "guest_run: interrupted; the guest is stopped" >&2; finish; exit 130' INT
trap 'finish; exit 143' TERM HUP

# The job: working directory, variables, command.
{
  echo "cd $(printf '%q' "$PWD") || exit 126"
  echo "export BRANTOVIX_X86=native"
  env | grep -E '^(BRANTOVIX_[A-Z0-9_]*|WINE[A-Z0-9_]*|CTEST_[A-Z0-9_]*|GTEST_[A-Z0-9_]*|LANG|LC_[A-Z]*|TERM|CI)=' |
    grep -v '^BRANTOVIX_X86=' | while IFS= read -r line; do
      printf 'export %s=%q\n' "${line%%=*}" "${line#*=}"
    done
  printf 'exec'
  printf ' %q' "$@"
  printf '\n'
} >"$job/job.sh"
echo "$(id -u) $(id -g)" >"$job/user"
cp "$here/guest_session.sh" "$job/session.sh"

# Shares: the checkout, the working directory when it lies outside it, and the folders that
# BRANTOVIX_GUEST_SHARES lists (colon-separated), each once.
shares=("$top")
share_if_outside() {
  local shared
  for shared in "${shares[@]}"; do
    case "$1/" in "$shared"/*) return 0 ;; esac
  done
  shares+=("$1")
}
share_if_outside "$PWD"
IFS=: read -r -a extra_shares <<<"${BRANTOVIX_GUEST_SHARES:-}"
for extra in "${extra_shares[@]}"; do
  [ -z "$extra" ] || share_if_outside "$(cd "$extra" && pwd)"
done
virtfs=(-virtfs "local,path=$job,mount_tag=job,security_model=none,multidevs=remap")
: >"$job/mounts"
for i in "${!shares[@]}"; do
  virtfs+=(-virtfs "local,path=${shares[$i]},mount_tag=share$i,security_model=none,multidevs=remap")
  echo "share$i ${shares[$i]}" >>"$job/mounts"
done

mkfifo "$job/stdout" "$job/stderr"
cat "$job/stdout" &
readers+=($!)
cat "$job/stderr" >&2 &
readers+=($!)

# timeout(1) ends QEMU past the limit (exit 124) and passes on a TERM that ends this script.
timeout --signal=TERM "$timeout" qemu-system-x86_64 -M pc -cpu "$cpu_model" -smp "$cpus" -m "$memory" \
  -accel tcg,thread=multi,tb-size=1024 -nodefaults -nographic -no-reboot -nic none \
  -kernel "$guest/vmlinuz" -initrd "$guest/initrd.img" \
  -append "console=ttyS0 root=/dev/vda rw init=/sbin/brantovix-init quiet panic=-1 tsc=reliable" \
  -drive "file=$guest/root.img,format=raw,if=virtio,snapshot=on" \
  -serial "file:$job/console.log" -serial "file:$job/stdout" -serial "file:$job/stderr" \
  "${virtfs[@]}" </dev/null >"$job/qemu.log" 2>&1 &
qemu_pid=$!
qemu_status=0
wait "$qemu_pid" || qemu_status=$?
qemu_pid=
for reader in "${readers[@]}"; do wait "$reader" 2>/dev/null || true; done
readers=()
if [ $qemu_status -eq 124 ]; then
  echo "guest_run: the command did not finish within $timeout s (BRANTOVIX_GUEST_TIMEOUT); the guest was stopped" >&2
  exit 124
fi

if [ ! -f "$job/status" ]; then
  echo "guest_run: the guest ended without the command's exit status (QEMU exit $qemu_status); it did not boot, or was stopped" >&2
  if [ -s "$job/qemu.log" ]; then echo "--- QEMU:" >&2; tail -n 20 "$job/qemu.log" >&2; fi
  if [ -s "$job/console.log" ]; then echo "--- guest console:" >&2; tail -n 40 "$job/console.log" | tr -d '\r' >&2; fi
  exit 125
fi
exit "$(cat "$job/status")"
