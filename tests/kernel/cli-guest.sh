#!/bin/sh
# Run in the test guest (see guest-run.sh --with): tavrin-dfu, linked with the
# system's hidapi-hidraw, against the accessory on the kernel's HID stack,
# row by row through the table it shares with the Wine guest (cli-rows.sh):
# list and its report lengths, upgrade, verify, backup, check, reset, a
# device that fails, an unplug during the write, a second writer refused,
# --wait. With the argument usb the accessory and the keyboard are USB
# devices (guest-run.sh --usb), otherwise uhid devices. Exit 0 when every row
# held.
PLATFORM=linux
ROUTE=${1:-uhid}
DFU=/test/tavrin-dfu
if [ "$ROUTE" = usb ]; then
    ACCESSORY=usb_accessory
else
    ACCESSORY=/test/tavrin-uhid-accessory
fi
# Started in the background and stopped by its process ID: exec keeps it one
# process.
usb_accessory() {
    exec /test/tavrin-uhid-accessory --usb "$@"
}
# shellcheck source=cli-rows.sh
. /test/cli-rows.sh
mkdir -p /tmp/rows && cd /tmp/rows || exit 1
run_rows
