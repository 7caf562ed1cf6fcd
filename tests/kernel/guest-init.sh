#!/bin/sh
# /init of the test guest (busybox; udev only when guest-run.sh brings it):
# mounts what the HID stack and hidapi need, loads the HID modules, runs the
# test program as root and reports its exit code on the serial console, where
# guest-run.sh reads it (QEMU's own exit code does not carry it). Then powers
# the machine off.
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
# Device nodes (hidraw*, uhid) appear here by themselves; nothing else would
# make them.
mount -t devtmpfs dev /dev

# With guest-run.sh's --udev-rule: Debian's udev daemon applies the rules in
# /etc/udev/rules.d to every device from here on, and records what they did
# in /run/udev, where udevadm info reads it.
if [ -x /bin/systemd-udevd ]; then
    mount -t tmpfs run /run
    systemd-udevd --daemon --resolve-names=never || echo "systemd-udevd did not start"
fi

# In dependency order. Without hid-generic no driver binds the devices and no
# hidraw node appears.
for module in hid hid-generic uhid; do
    insmod "/modules/$module.ko" || echo "insmod $module failed"
done
waited=0
while [ ! -e /dev/uhid ] && [ "$waited" -lt 10 ]; do
    sleep 1
    waited=$((waited + 1))
done

export HOME=/root TMPDIR=/tmp
export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
if [ -e /dev/uhid ]; then
    sh /test/run
    result=$?
else
    echo "/dev/uhid did not appear"
    result=125
fi
echo "TAVRIN-GUEST-EXIT $result"
poweroff -f
