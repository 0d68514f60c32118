#!/bin/busybox sh
# First process of the test guest: loads the virtual camera and the loopback sound card, mounts
# the host's root read-only with a RAM overlay on top, and runs the command the host left in the
# results share.
/bin/busybox --install -s /bin
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
for m in virtio_pci 9pnet_virtio 9p overlay; do modprobe $m; done
modprobe vivid n_devs=1 node_types=0x1 num_inputs=1 input_types=0x0
# Sound cards whose capture clocks can be shifted: one loopback card per rate under test.
modprobe snd-aloop enable=1,1,1 index=0,1,2 id=LoopA,LoopB,LoopC pcm_substreams=1

mkdir -p /host /upper /root /results
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000,cache=loose,ro hostroot /host
mount -t 9p -o trans=virtio,version=9p2000.L,msize=512000 results /results
mount -t tmpfs -o size=200m tmpfs /upper
mkdir -p /upper/u /upper/w
mount -t overlay overlay -o lowerdir=/host,upperdir=/upper/u,workdir=/upper/w /root
mount --move /proc /root/proc
mount --move /sys /root/sys
mount --move /dev /root/dev
# /tmp stays the overlay's: the checkout under test may itself live in the host's /tmp.
mount -t tmpfs tmpfs /root/run
mkdir -p /root/results
mount --move /results /root/results

chroot /root /bin/sh -c '. /results/env; cd "$GUEST_CWD" && sh /results/command > /results/output 2>&1; echo $? > /results/status'
sync
poweroff -f
