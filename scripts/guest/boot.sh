#!/bin/sh
# Boots the guest image on one job and waits for it, within a time limit.
# usage: boot.sh <image dir> <job tar> <result dir> <seconds>
# The job tar is unpacked at the guest's root and holds job/run.sh; the guest's /job/out comes back
# in <result dir>, with the console in console.log. Exit status: the job's; 124 when the time limit
# stopped the guest; 125 when the guest gave no result.
# TESSARY_GUEST_ACCEL=kvm uses KVM instead of emulating (TCG). Not the default: nested KVM on
# machines of this kind accepts the guest and then never runs it.
set -eu
image=$1 job=$2 result=$3 limit=$4
mkdir -p "$result"
result=$(cd "$result" && pwd)
disk=$(mktemp "${TMPDIR:-/tmp}/tessary-result.XXXXXX")
trap 'rm -f "$disk"' EXIT
truncate -s 1G "$disk"

# Without SMAP: under TCG with it, the guest kernel faults on returning to 32-bit code.
case ${TESSARY_GUEST_ACCEL:-tcg} in
kvm) machine="-accel kvm -cpu host" ;;
*) machine="-accel tcg,thread=multi -cpu max,-smap" ;;
esac
echo "guest: booting ($machine, time limit $limit s)"
# shellcheck disable=SC2086
timeout -k 10 "$limit" qemu-system-x86_64 $machine -smp 2 -m 3072 -nodefaults -no-reboot \
  -display none -serial stdio -net none \
  -kernel "$image/vmlinuz" -initrd "$image/initrd.img" \
  -append "console=ttyS0 root=/dev/vda rootfstype=ext4 rw init=/sbin/tessary-init panic=-1 quiet loglevel=1" \
  -drive "file=$image/root.img,format=raw,if=virtio,snapshot=on" \
  -drive "file=$job,format=raw,if=virtio,readonly=on" \
  -drive "file=$disk,format=raw,if=virtio" \
  </dev/null >"$result/console.log" 2>&1 &
qemu=$!
# The console as it comes, without the serial line's carriage returns.
tail -f --pid=$qemu "$result/console.log" 2>/dev/null | sed -u 's/\r$//' &
follow=$!
rc=0
wait $qemu || rc=$?
wait $follow || true

if [ $rc -eq 124 ] || [ $rc -eq 137 ]; then
  echo "guest: stopped after $limit s"
  exit 124
fi
tar -xf "$disk" -C "$result" 2>/dev/null || true
if [ ! -f "$result/status" ]; then
  echo "guest: no result (qemu exit status $rc)"
  exit 125
fi
exit "$(cat "$result/status")"
