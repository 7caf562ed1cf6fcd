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

# In dependency order (guest-run.sh lists them, with their parameters).
# Without hid-generic no driver binds the devices and no hidraw node appears.
while read -r module parameters; do
    # shellcheck disable=SC2086 # the parameters are words
    insmod "/modules/$module.ko" $parameters || echo "insmod $module failed"
done </modules/order
# The USB gadgets are made in configfs.
if [ -d /sys/kernel/config ]; then
    mount -t configfs configfs /sys/kernel/config
fi
awaits="$(cat /modules/awaits)"
waited=0
while [ ! -e "$awaits" ] && [ "$waited" -lt 10 ]; do
    sleep 1
    waited=$((waited + 1))
done

export HOME=/root TMPDIR=/tmp
export LD_LIBRARY_PATH=/lib/x86_64-linux-gnu:/usr/lib/x86_64-linux-gnu
if [ -e "$awaits" ]; then
    sh /test/run
    result=$?
else
    echo "$awaits did not appear"
    result=125
fi
echo "TAVRIN-GUEST-EXIT $result"
poweroff -f
