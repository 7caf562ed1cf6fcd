#!/bin/sh
# Run in the test guest (see guest-run.sh --with): tavrin-dfu, linked with the
# system's hidapi-hidraw, against the accessory on the kernel's HID stack.
# list must show the accessory and its feature report length, and
# upgrade --verify must succeed through hidraw, and a second program must be
# refused the accessory while the first writes. Exit 0 when all held.
dfu=/test/tavrin-dfu
failures=0
check() {
    what="$1"
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

# Busy for 3 ms after each block, so that a long write takes seconds.
/test/tavrin-uhid-accessory --keyboard --report-length 64 --poll-timeout 3 \
    >/tmp/accessory.log 2>&1 &
accessory=$!
waited=0
until "$dfu" list | grep -q '^\* 0a12:fffe' || [ "$waited" -ge 20 ]; do
    sleep 1
    waited=$((waited + 1))
done

"$dfu" list | tee /tmp/list.txt
"$dfu" list --json >/tmp/list.json
check "list marks the accessory with its report length" \
    grep -Eq '^\* 0a12:fffe  ff00:0001 +64 .*/dev/hidraw[0-9]+$' /tmp/list.txt
check "list shows the keyboard too" grep -Eq '^  [0-9a-f]{4}:[0-9a-f]{4}  0001:0006 ' /tmp/list.txt
check "list --json carries the report length" \
    grep -q '"accessory":true,"featureReportLength":64,' /tmp/list.json

"$dfu" pack --test-image 6000 /tmp/firmware.dfu
"$dfu" upgrade --verify --wait 10 /tmp/firmware.dfu >/tmp/upgrade.txt 2>&1
status=$?
cat /tmp/upgrade.txt
check "upgrade --verify exits 0" [ "$status" -eq 0 ]
check "upgrade --verify verified and reset" \
    grep -q '^Upgraded with /tmp/firmware.dfu, verified, reset$' /tmp/upgrade.txt

# One writer per accessory: a second program is refused while the first
# writes, and the first is unharmed.
"$dfu" pack --test-image 58000 /tmp/long.dfu
"$dfu" upgrade --verify --no-reset --json --wait 10 /tmp/long.dfu >/tmp/first.txt 2>&1 &
first=$!
waited=0
# Holding the accessory shows as a lock in the kernel's table.
until grep -q FLOCK /proc/locks || [ "$waited" -ge 100 ]; do
    sleep 0.1
    waited=$((waited + 1))
done
"$dfu" upgrade /tmp/long.dfu >/tmp/second.txt 2>&1
second=$?
wait "$first"
first_status=$?
cat /tmp/second.txt /tmp/first.txt
check "a second writer exits 3" [ "$second" -eq 3 ]
check "a second writer is told who holds the accessory" \
    grep -q "Accessory is in use by another program (tavrin-dfu, process $first)" /tmp/second.txt
check "the first writer completes and verifies" [ "$first_status" -eq 0 ]

kill -INT "$accessory"
wait "$accessory"
# The reports it received: the reset command last.
check "the accessory was reset" grep -q '^> 03 ff$' /tmp/accessory.log
echo "$failures check(s) failed"
[ "$failures" -eq 0 ]
