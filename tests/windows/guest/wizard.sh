#!/bin/sh
# Run in the Wine guest (guest-run.sh) as the test of tst_windowsguestwizard:
# the shipping wizard, tavrin-installator.exe from the installed folder,
# walked with Return from the welcome page through the write to the success
# page (tests/windows/tst_windowsprograms.py) on an X server of its own,
# against the accessory on /dev/uhid through Wine's HID class. Its pictures
# go to the console for guest-run.sh. Exit 0 when the walk passed and the
# accessory was told to reset.
/payload/bin/tavrin-uhid-accessory --report-length 64 >/tmp/accessory.log 2>&1 &
accessory=$!
Xvfb :7 -screen 0 1280x1024x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
xvfb=$!
tries=0
until [ -e /tmp/.X11-unix/X7 ] || [ "$tries" -ge 100 ]; do
    sleep 0.2
    tries=$((tries + 1))
done
# The accessory as the flasher sees it, before the wizard looks for it.
tries=0
until wine /payload/win/tavrin-dfu.exe list 2>/dev/null | grep -q '^\* 0a12:fffe' || [ "$tries" -ge 30 ]; do
    sleep 1
    tries=$((tries + 1))
done
# The emulated machine draws and writes far slower than a desktop.
DISPLAY=:7 TAVRIN_WALK_WAIT_SCALE=10 python3 /payload/tst_windowsprograms.py wizard /payload/win \
    --program tavrin-installator.exe --pictures /tmp/pictures
status=$?
kill -INT "$accessory"
wait "$accessory"
kill "$xvfb"
for picture in /tmp/pictures/*.png; do
    [ -f "$picture" ] || continue
    echo "TAVRIN-PICTURE-BEGIN guest-$(basename "$picture")"
    base64 "$picture"
    echo "TAVRIN-PICTURE-END"
done
if grep -q '^> 03 ff$' /tmp/accessory.log; then
    echo "ok: the accessory was told to reset"
else
    echo "FAILED: the accessory was not told to reset"
    status=1
fi
exit "$status"
