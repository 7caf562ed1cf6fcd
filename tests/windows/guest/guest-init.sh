#!/bin/sh
# The Wine guest's second stage (guest-run.sh puts it in /payload/init; the
# guest's first stage starts it on the guest's disk after loading the HID
# modules): mounts what Wine and the HID stack need, starts a wineserver
# that stays for the whole run (so that every program finds Wine's services
# and HID bus running), runs /payload/run as root and reports its exit code
# on the serial console, where guest-run.sh reads it. Then powers off.
export PATH=/usr/sbin:/usr/bin:/sbin:/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
# hidraw and uhid nodes appear here by themselves.
mount -t devtmpfs dev /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs shm /dev/shm
mount -t tmpfs tmp /tmp
mount -t tmpfs run /run
# Debian's udev daemon, as on a desktop: Wine's HID bus driver learns of new
# hidraw nodes from it. (Without it, with the driver's DisableUdevd, Wine 10
# watches /dev itself and takes each new node twice; most of the time no
# device came of it.)
/usr/lib/systemd/systemd-udevd --daemon --resolve-names=never || echo "systemd-udevd did not start"

# Without a runtime folder of the user's, wineserver falls back to a
# random one in /tmp, and aborts there ("free(): invalid pointer") while the
# guest's entropy pool is not yet ready.
mkdir -p -m 700 /run/user/0
export XDG_RUNTIME_DIR=/run/user/0
export HOME=/root TMPDIR=/tmp WINEPREFIX=/root/.wine
export WINEDEBUG="${WINEDEBUG:--all}"
# The configuration manager's stand-in beside the programs comes first
# (tests/windows/guest/cfgmgr32.c); Wine would offer to download its .NET and
# HTML engines.
export WINEDLLOVERRIDES="cfgmgr32=n,b;mscoree,mshtml="
. /payload/env

waited=0
while [ ! -e /dev/uhid ] && [ "$waited" -lt 10 ]; do
    sleep 1
    waited=$((waited + 1))
done
if [ -e /dev/uhid ]; then
    wineserver -p
    # Wine's services, its HID bus among them, log to this file, the bus
    # driver's tracing on.
    WINEDEBUG=err+all,trace+hid wine wineboot >/tmp/wine-services.log 2>&1
    # The bus lists the nodes there when it starts and then follows udev's
    # news: the run makes its devices once it has started, not in between.
    waited=0
    until grep -q 'udev_bus_init' /tmp/wine-services.log || [ "$waited" -ge 600 ]; do
        sleep 0.1
        waited=$((waited + 1))
    done
    cd /tmp && sh /payload/run
    result=$?
    wineserver -k
else
    echo "/dev/uhid did not appear"
    result=125
fi
echo "TAVRIN-GUEST-EXIT $result"
sync
echo o >/proc/sysrq-trigger
sleep 10
