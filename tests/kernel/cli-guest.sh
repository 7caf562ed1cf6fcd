#!/bin/sh
# Run in the test guest (see guest-run.sh --with): tavrin-dfu, linked with the
# system's hidapi-hidraw, against the accessory on the kernel's HID stack,
# row by row through the table it shares with the Wine guest (cli-rows.sh):
# list and its report lengths, upgrade, verify, backup, check, reset, a
# device that fails, an unplug during the write, a second writer refused,
# --wait. Exit 0 when every row held.
PLATFORM=linux
ACCESSORY=/test/tavrin-uhid-accessory
DFU=/test/tavrin-dfu
# shellcheck source=cli-rows.sh
. /test/cli-rows.sh
mkdir -p /tmp/rows && cd /tmp/rows || exit 1
run_rows
