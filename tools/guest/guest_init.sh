#!/bin/sh
# The guest's init (process 1): mounts the job share that the host's guest_run.sh prepared (tag
# "job") and hands over to the session script there, which runs the job and powers off. Kept
# this small so that the guest's disk need not change when the session does. When the share
# cannot be mounted, or the session ends instead of powering off, it powers off itself: the
# host then finds no exit status and fails the run.
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev 2>/dev/null
mount -t tmpfs -o mode=755 tmpfs /run
modprobe 9pnet_virtio
modprobe 9p
mkdir -p /run/brantovix-job
if mount -t 9p -o trans=virtio,version=9p2000.L,msize=524288 job /run/brantovix-job; then
  /bin/sh /run/brantovix-job/session.sh
else
  echo "brantovix-init: the job share could not be mounted" >/dev/ttyS0
fi
sync
echo o >/proc/sysrq-trigger
sleep 60
