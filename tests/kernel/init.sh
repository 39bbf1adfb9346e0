#!/bin/busybox sh
# /init of the test machine's initramfs (busybox, the kernel's modules, nothing else). It mounts
# the host's root (read-only) and the run's work folder over 9p, then runs the run's payload
# script in a chroot of the host root, and powers off. The host reads the console.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
# What udev would add to /dev, and bash's process substitution needs.
ln -s /proc/self/fd /dev/fd; ln -s fd/0 /dev/stdin; ln -s fd/1 /dev/stdout; ln -s fd/2 /dev/stderr
echo "KV boot"
modprobe -a virtio_pci 9pnet_virtio 9p || echo "KV FAIL boot: 9p modules"
mkdir -p /vm /host
opts=trans=virtio,version=9p2000.L,msize=512000
mount -t 9p -o $opts vm /vm || echo "KV FAIL boot: work share"
. /vm/params
for m in $KV_MODULES; do modprobe "$m" || echo "KV FAIL boot: module $m"; done
mount -t 9p -o $opts,ro,cache=loose host /host || echo "KV FAIL boot: host root share"
# The host root is read-only: the machine's own /tmp and /run are memory, and the work folder,
# and the source tree when the host keeps it below /tmp, are mounted over them.
mount -t tmpfs tmpfs /host/tmp
mount -t tmpfs tmpfs /host/run
mkdir -p /host/tmp/kv && mount --bind /vm /host/tmp/kv
if [ -n "$KV_SRC_SHARE" ]; then
  mkdir -p "/host$KV_SRC" && mount -t 9p -o $opts,ro src "/host$KV_SRC"
fi
mkdir -p /dev/shm /dev/pts
mount -t devpts devpts /dev/pts
for d in proc sys dev dev/pts; do mount --bind /$d /host/$d; done
mount -t tmpfs tmpfs /host/dev/shm
mount -t cgroup2 cgroup2 /host/sys/fs/cgroup 2>/dev/null
mount -t configfs configfs /host/sys/kernel/config 2>/dev/null
echo "KV shell"
chroot /host /usr/bin/env -i PATH=/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp/home \
  KV_SRC="$KV_SRC" KV_BUILD="$KV_BUILD" KV_WORK=/tmp/kv KV_ARGS="$KV_ARGS" LANG=C.UTF-8 \
  /bin/bash "$KV_SRC/tests/kernel/$KV_PAYLOAD"
echo "KV rc $?"
sync
poweroff -f
