#!/usr/bin/env bash
# Builds the emulated x86 PC's disk once and keeps it in the cache folder, where every clone on
# this machine finds it:
#   guest_image.sh ensure    build it unless the cached one was made from this recipe
#   guest_image.sh path      print its folder (it may not be built yet)
# The recipe is what makes the guest: the build steps below (as bash prints the function, so
# without comments), the suite, the package lists, the disk size and the guest's init. A change
# to any of them gives a new folder name, so the next ensure builds anew. Guests of other
# recipes stay for clones that still use them, until none has booted one for a week.
# The guest is Debian 12 (amd64, with the i386 architecture) made by debootstrap from Debian's
# packages: its kernel and initrd, Wine, ctest for running test suites, and the mingw binutils
# that tests of the built DLL read it with. Its root file system is an ext4 image made by
# mke2fs -d (no loop mount); guest_run.sh boots it with QEMU's snapshot, so every boot starts
# from the same disk and several may run at once.
# Needs root, or sudo.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
suite=bookworm

# The mirrors this host's own apt sources name for a suite that ends in SUFFIX ("" for the
# release itself, "-security"), one-line (.list) or deb822 (.sources) entries of type deb; the
# first found, or nothing. The guest is built from the mirror the host already reaches.
host_mirror() {
  local suffix=$1
  cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
    awk -v want="$suite$suffix" '
      /^[ \t]*#/ { next }
      $1 == "deb" { i = 2; if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
                    if ($(i + 1) == want) { print $i; exit } next }
      /^Types:/ { deb = ($0 ~ /[ \t]deb([ \t]|$)/); uris = ""; next }
      /^URIs:/ { uris = $2; next }
      /^Suites:/ { for (j = 2; j <= NF; j++) if (deb && uris != "" && $j == want) { print uris; exit } }'
}
# BRANTOVIX_GUEST_MIRROR and BRANTOVIX_GUEST_SECURITY_MIRROR override; the mirror is no part of
# the recipe (the guest is the same from any mirror).
mirror=${BRANTOVIX_GUEST_MIRROR:-$(host_mirror "")}
mirror=${mirror:-http://deb.debian.org/debian}
security_mirror=${BRANTOVIX_GUEST_SECURITY_MIRROR:-$(host_mirror -security)}
security_mirror=${security_mirror:-http://deb.debian.org/debian-security}
base_packages=linux-image-amd64,udev,kmod
guest_packages=(wine wine32 wine64 cmake binutils-mingw-w64-i686)
disk_size=6G

cache=${BRANTOVIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/brantovix}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
step() { printf 'guest: [%s] %s\n' "$(date +%H:%M:%S)" "$*"; }

build() {
  local work=$guest.building log
  as_root rm -rf "$work"
  mkdir -p "$work"
  log=$work/build.log
  echo "guest: Windows programs run in an emulated x86 PC on this host (tools/guest/x86_mode.sh)."
  echo "guest: building it once into $guest (a few minutes; log: $log)"
  step "debootstrap $suite (minbase, kernel) from $mirror"
  if ! as_root debootstrap --variant=minbase --include="$base_packages" "$suite" "$work/root" "$mirror" >"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "guest: debootstrap failed (log: $log)" >&2
    return 1
  fi
  step "Wine (i386 and amd64) and ctest in the guest"
  as_root tee "$work/root/etc/apt/sources.list" >/dev/null <<SOURCES
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security_mirror $suite-security main
SOURCES
  as_root mount -t proc proc "$work/root/proc"
  local status=0
  as_root chroot "$work/root" /bin/sh -c "
      set -e
      dpkg --add-architecture i386
      apt-get update -qq
      DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends ${guest_packages[*]}
      apt-get clean
      rm -rf /var/lib/apt/lists/*" >>"$log" 2>&1 || status=$?
  as_root umount "$work/root/proc"
  if [ $status -ne 0 ]; then
    tail -n 20 "$log" >&2
    echo "guest: installing the guest's packages failed (log: $log)" >&2
    return 1
  fi
  as_root install -m 755 "$here/guest_init.sh" "$work/root/sbin/brantovix-init"
  step "kernel and initrd"
  as_root sh -c "cp '$work'/root/boot/vmlinuz-* '$work/vmlinuz' && cp '$work'/root/boot/initrd.img-* '$work/initrd.img' &&
                 chmod 644 '$work/vmlinuz' '$work/initrd.img'"
  step "root file system image ($disk_size, sparse)"
  if ! as_root mke2fs -q -t ext4 -L brantovix -d "$work/root" "$work/root.img" "$disk_size" >>"$log" 2>&1; then
    tail -n 20 "$log" >&2
    echo "guest: mke2fs failed (log: $log)" >&2
    return 1
  fi
  as_root rm -rf "$work/root"
  as_root chown -R "$(id -u):$(id -g)" "$work"
  rm -rf "$guest"
  mv "$work" "$guest"
  step "guest ready: $guest"
}

recipe=$( (declare -f build; echo "$suite $base_packages ${guest_packages[*]} $disk_size"; cat "$here/guest_init.sh") |
  sha256sum | cut -c1-16)
guest=$cache/guest-$recipe

# Guests of other recipes that no run has booted for a week (guest_run.sh touches the folder).
remove_unused_guests() {
  local old
  for old in "$cache"/guest-*; do
    [ -d "$old" ] && [ "$old" != "$guest" ] || continue
    if [ -n "$(find "$old" -maxdepth 0 -mtime +7)" ]; then
      step "removing $(basename "$old"), unused for a week"
      as_root rm -rf "$old"
    fi
  done
}

case "${1:-ensure}" in
path) echo "$guest" ;;
ensure)
  [ -f "$guest/root.img" ] && exit 0
  mkdir -p "$cache"
  exec 9>"$cache/guest.lock"
  flock 9
  [ -f "$guest/root.img" ] && exit 0
  build
  remove_unused_guests
  ;;
*) echo "usage: guest_image.sh ensure|path" >&2; exit 2 ;;
esac
