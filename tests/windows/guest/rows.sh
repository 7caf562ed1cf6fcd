#!/bin/sh
# Run in the Wine guest (guest-run.sh) as the test of tst_windowsguest: first
# hidprobe.exe (hidapi's Windows backend alone, through the configuration
# manager's stand-in), then tavrin-dfu.exe from the installed folder, row by
# row through the table it shares with the Linux kernel guest
# (tests/kernel/cli-rows.sh). Exit 0 when the probe and every row held.
win=/payload/win

# The probe: the accessory listed by hid_enumerate, its report length from
# the system's HID parser, feature reports answered.
/payload/bin/tavrin-uhid-accessory --keyboard --report-length 64 >/tmp/probe-accessory.log 2>&1 &
accessory=$!
tries=0
until wine "$win/hidprobe.exe" >/tmp/probe.txt 2>&1 || [ "$tries" -ge 30 ]; do
    sleep 1
    tries=$((tries + 1))
done
tr -d '\r' </tmp/probe.txt
kill -INT "$accessory"
wait "$accessory"
probe=0
grep -q '^hid_enumerate: 0a12:fffe ff00:0001 ' /tmp/probe.txt &&
    grep -q '^HidP_GetCaps: feature 64,' /tmp/probe.txt &&
    grep -q '^hid_get_feature_report: report 1 64 bytes, report 2 7 bytes' /tmp/probe.txt || probe=1
if [ "$probe" -eq 0 ]; then echo "ok: the probe"; else echo "FAILED: the probe"; fi

# The flasher through Wine: its CR LF lines as LF, each as it comes, and its
# exit status.
cat >/tmp/dfu <<'DFU'
#!/bin/sh
status="$(mktemp)"
{ wine /payload/win/tavrin-dfu.exe "$@" 2>&1; echo "$?" >"$status"; } | sed -u 's/\r$//'
code="$(cat "$status")"
rm -f "$status"
exit "$code"
DFU
chmod 755 /tmp/dfu

PLATFORM=windows
ACCESSORY=/payload/bin/tavrin-uhid-accessory
DFU=/tmp/dfu
# shellcheck source=../../kernel/cli-rows.sh
. /payload/cli-rows.sh
mkdir -p /tmp/rows && cd /tmp/rows || exit 1
run_rows
rows=$?
if [ "$rows" -ne 0 ] || [ "$probe" -ne 0 ]; then
    echo "Wine's HID bus said:"
    grep -a 'hid:bus_main_thread\|err:' /tmp/wine-services.log | tail -n 20
    exit 1
fi
