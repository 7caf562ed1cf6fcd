#!/bin/sh
# Run in the test guest (see guest-run.sh --with): tavrin-dfu, linked with the
# system's hidapi-hidraw, against the accessory on the kernel's HID stack.
# list must show the accessory and its feature report length, and
# upgrade --verify must succeed through hidraw. Exit 0 when both held.
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

/test/tavrin-uhid-accessory --keyboard --report-length 64 >/tmp/accessory.log 2>&1 &
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

kill -INT "$accessory"
wait "$accessory"
# The reports it received: the reset command last.
check "the accessory was reset" grep -q '^> 03 ff$' /tmp/accessory.log
echo "$failures check(s) failed"
[ "$failures" -eq 0 ]
