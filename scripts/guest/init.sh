#!/bin/sh
# The guest's first process: unpacks the job (a tar stream on the second disk) at the root, runs
# /job/run.sh with its output on the console, writes its exit status and /job/out to the third
# disk as a tar stream, and powers off.
PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export PATH HOME=/root LANG=C.UTF-8
# The initramfs may have mounted some of these already.
mount -t proc proc /proc 2>/dev/null
mount -t sysfs sysfs /sys 2>/dev/null
mount -t devtmpfs devtmpfs /dev 2>/dev/null
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /tmp
mount -o remount,rw /
hostname guest

status=125
if tar -xf /dev/vdb -C /; then
  mkdir -p /job/out
  echo "guest: job unpacked, running"
  (cd /job && sh ./run.sh) </dev/null 2>&1
  status=$?
else
  echo "guest: no job on the second disk"
  mkdir -p /job/out
fi
echo "$status" >/job/out/status
tar -cf /dev/vdc -C /job/out .
sync
echo "guest: job ended with status $status, powering off"
echo o >/proc/sysrq-trigger
sleep 60
