#!/bin/sh
# The guest's session, started by its init from the job share (/run/brantovix-job) that the
# host's guest_run.sh prepared:
#   mounts   one line per further share: TAG PATH (mounted at the same path as on the host)
#   user     UID GID of the host's caller: the job runs as that user
#   job.sh   the job itself
#   status   written here: the job's exit status, the host's only sign that the job ran
# The job's standard output goes to the second serial port and its standard error to the
# third, through pipes, which the host streams to its own; the first is the console.
job=/run/brantovix-job
options=trans=virtio,version=9p2000.L,msize=524288,cache=loose
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs -o mode=1777 tmpfs /tmp
ln -sf /proc/self/fd /dev/fd
ln -sf /proc/self/fd/0 /dev/stdin
ln -sf /proc/self/fd/1 /dev/stdout
ln -sf /proc/self/fd/2 /dev/stderr
hostname brantovix-guest

while read -r tag path; do
  [ -n "$tag" ] || continue
  mkdir -p "$path"
  mount -t 9p -o "$options" "$tag" "$path" ||
    echo "guest: share $tag could not be mounted at $path" >/dev/ttyS2
done <"$job/mounts"

# Guest-local storage for what must not cross the share (the tests' Wine prefix).
mkdir -p /var/brantovix
mount -t tmpfs -o mode=1777 tmpfs /var/brantovix

# The job writes into pipes, which cat copies to the serial ports: a program that finds a
# terminal on its standard output (Wine's console among them) would write terminal control
# codes into what the caller reads.
mkfifo -m 666 /tmp/job-stdout /tmp/job-stderr
cat /tmp/job-stdout >/dev/ttyS1 &
copyOut=$!
cat /tmp/job-stderr >/dev/ttyS2 &
copyErr=$!
read -r uid gid <"$job/user"
if [ "$uid" = 0 ]; then
  HOME=/root /bin/bash "$job/job.sh" </dev/null >/tmp/job-stdout 2>/tmp/job-stderr
else
  mkdir -p /var/brantovix/home
  chown "$uid:$gid" /var/brantovix/home
  HOME=/var/brantovix/home setpriv --reuid="$uid" --regid="$gid" --clear-groups \
    /bin/bash "$job/job.sh" </dev/null >/tmp/job-stdout 2>/tmp/job-stderr
fi
status=$?
# The copies end when every writer has gone; a server the job left running (a wineserver that
# lingers) may hold the pipes a while longer: it gets ten seconds.
for second in 1 2 3 4 5 6 7 8 9 10; do
  kill -0 "$copyOut" 2>/dev/null || kill -0 "$copyErr" 2>/dev/null || break
  sleep 1
done
kill "$copyOut" "$copyErr" 2>/dev/null
echo $status >"$job/status.tmp"
mv "$job/status.tmp" "$job/status"
sync
while read -r tag path; do
  [ -n "$tag" ] && umount "$path" 2>/dev/null
done <"$job/mounts"
