#!/usr/bin/env bash
# Unpacks the Debian package into an empty folder (dpkg -x, as root would
# install it but without touching the system), checks what it holds and what
# it depends on, has lintian check it (an error or a warning fails the
# test), then starts the installed program through its link in
# usr/bin on a virtual X server and checks that it comes up on the welcome
# page and stays up.
#   check-package.sh PACKAGE_FOLDER UNPACK_FOLDER
set -euo pipefail

readonly kStartLine="Starting TAVRIN firmware installator"
# The window title, from the text copy beside the executable: shown only when
# the installed program found its files.
readonly kWindowTitle="TAVRIN firmware installator"
# How long the program must stay up, in seconds.
readonly kStayUp=5

packages="$1"
root="$2"

failures=0
check() {
    local what="$1"
    shift
    if "$@"; then
        echo "ok: $what"
    else
        echo "FAILED: $what"
        failures=$((failures + 1))
    fi
}

deb="$(ls -t "$packages"/tavrin-installator_*.deb 2>/dev/null | head -n 1 || true)"
[ -n "$deb" ] || { echo "FAILED: no package in $packages"; exit 1; }
echo "Package: $deb"
rm -rf "$root"
mkdir -p "$root"
dpkg -x "$deb" "$root"

program_dir="$root/usr/lib/tavrin-installator"
check "program in usr/lib/tavrin-installator" test -x "$program_dir/tavrin-installator"
check "text copy beside it" test -s "$program_dir/Resources/text_copy.json"
check "changelog beside it" test -s "$program_dir/Resources/changelog.html"
for code in de es fr ja zh_CN; do
    check "$code translation beside it" test -s "$program_dir/Resources/text_copy.$code.json" -a \
        -s "$program_dir/Resources/changelog.$code.html"
done
check "recommends the fonts for Japanese and Chinese" bash -c \
    'dpkg-deb -f "$1" Recommends | grep -qx fonts-noto-cjk' _ "$deb"
check "product logo beside it" test -s "$program_dir/productLogo.png"
check "firmware beside it" test -s "$program_dir/tavrinFirmware.dfu"
check "relative link in usr/bin" test "$(readlink "$root/usr/bin/tavrin-installator")" = \
    ../lib/tavrin-installator/tavrin-installator
check "desktop entry" grep -qx "Exec=tavrin-installator" \
    "$root/usr/share/applications/tavrin-installator.desktop"
check "desktop icon" test -s "$root/usr/share/icons/hicolor/256x256/apps/tavrin-installator.png"
check "udev rule" grep -q 'ATTRS{idVendor}=="0a12", ATTRS{idProduct}=="fffe", TAG+="uaccess"' \
    "$root/usr/lib/udev/rules.d/70-tavrin-accessory.rules"
# A software centre offers the package when the accessory is plugged in.
metainfo="$root/usr/share/metainfo/com.example.tavrin_installator.metainfo.xml"
check "AppStream metainfo valid" appstreamcli validate --no-net "$metainfo"
check "metainfo provides the accessory's USB ID" grep -qF '<modalias>usb:v0A12pFFFEd*</modalias>' \
    "$metainfo"
check "metainfo launches the desktop entry" bash -c \
    'grep -q "<launchable type=\"desktop-id\">$(basename "$2")</launchable>" "$1" && test -s "$2"' \
    _ "$metainfo" "$root/usr/share/applications/tavrin-installator.desktop"
check "metainfo release is this version" grep -q "<release version=\"$(dpkg-deb -f "$deb" Version)\"" \
    "$metainfo"

doc="$root/usr/share/doc/tavrin-installator"
check "copyright in the doc folder" grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" \
    "$doc/copyright"
# A Debian changelog whose latest entry is this version: a version raised
# without an entry in packaging/changelog fails here.
check "Debian changelog.gz with this version's entry" bash -c \
    'test "$(gzip -dc "$1" | dpkg-parsechangelog -l - -S Version)" = "$(dpkg-deb -f "$2" Version)"' \
    _ "$doc/changelog.gz" "$deb"
check "udev rules reloaded after install" bash -c \
    'dpkg-deb -I "$1" postinst | grep -q "udevadm trigger --subsystem-match=hidraw"' _ "$deb"
# Built without a release firmware: the package and the flasher say so.
check "description marks the test firmware" bash -c \
    'dpkg-deb -f "$1" Description | grep -q "with a test firmware image"' _ "$deb"

check "tavrin-installator man page" bash -c \
    'gzip -dc "$1" | grep -q "^\.TH TAVRIN-INSTALLATOR 1"' \
    _ "$root/usr/share/man/man1/tavrin-installator.1.gz"
check "maintainer with an address" bash -c \
    'dpkg-deb -f "$1" Maintainer | grep -qE "^[^<>]+ <[^@<> ]+@[^@<> ]+>$"' _ "$deb"

check "tavrin-dfu in usr/bin" test -x "$root/usr/bin/tavrin-dfu"
check "tavrin-dfu man page" bash -c 'gzip -dc "$1" | grep -q "^\.TH TAVRIN-DFU 1"' \
    _ "$root/usr/share/man/man1/tavrin-dfu.1.gz"
check "tavrin-dfu bash completion" grep -q "complete .* tavrin-dfu" \
    "$root/usr/share/bash-completion/completions/tavrin-dfu"
check "installed tavrin-dfu runs" bash -c '"$1" --version | grep -qx "tavrin-dfu [0-9.]*"' \
    _ "$root/usr/bin/tavrin-dfu"
check "installed tavrin-dfu checks the shipped firmware" \
    "$root/usr/bin/tavrin-dfu" check "$program_dir/tavrinFirmware.dfu"
check "tavrin-dfu check names the shipped test image" bash -c \
    '"$1" check "$2" | grep -q "a generated test image, not a firmware release"' \
    _ "$root/usr/bin/tavrin-dfu" "$program_dir/tavrinFirmware.dfu"
check "the shipped firmware states the version its changelog announces" bash -c \
    'v=$(grep -om1 "<h2>TAVRIN firmware [0-9.]*</h2>" "$3" | grep -o "[0-9][0-9.]*[0-9]")
     test -n "$v" && "$1" check "$2" | grep -qx "Version: *$v"' \
    _ "$root/usr/bin/tavrin-dfu" "$program_dir/tavrinFirmware.dfu" \
    "$program_dir/Resources/changelog.html"
check "man tavrin-installator names the log folder and TAVRIN_LANGUAGE" bash -c \
    'gzip -dc "$1" | grep -q "TAVRIN_LANGUAGE" && gzip -dc "$1" | grep -q "logs/"' \
    _ "$root/usr/share/man/man1/tavrin-installator.1.gz"
check "Debian changelog released" bash -c '! gzip -dc "$1" | head -1 | grep -q UNRELEASED' \
    _ "$root/usr/share/doc/tavrin-installator/changelog.gz"

# Debian's own check of the package: an error or a warning fails the test.
# No tag is overridden.
echo "--- lintian"
lintian_status=0
lintian --fail-on error,warning "$deb" 2>&1 | tee "$root/../lintian.txt" || lintian_status=$?
echo "---"
check "lintian finds no errors or warnings" test "$lintian_status" -eq 0

depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
# The libraries' packages as this release names them (Debian 13 renamed some
# for its 64-bit time_t, libqt5core5a to libqt5core5t64): whichever holds
# the library on this machine, where the package was built.
multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH)"
library_packages=()
for library in libQt5Core.so.5 libQt5Gui.so.5 libQt5Qml.so.5 libQt5Quick.so.5 \
    libhidapi-hidraw.so.0; do
    library_packages+=("$(dpkg-query -S "/usr/lib/$multiarch/$library" | cut -d : -f 1)")
done
for package in "${library_packages[@]}" qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-layouts \
    qml-module-qtquick-controls qml-module-qtgraphicaleffects libqt5svg5; do
    check "depends on $package" grep -qE "(^|, )$package( |,|$)" <<<"$depends"
done

# The run: the program in the background on the virtual server, a look at
# the screen after a while, then the end of the program.
runtime="$(mktemp -d)"
chmod 700 "$runtime"
output="$root/../run.log"
screenshot="$root/../screen.png"
windows="$root/../windows.txt"
rm -f "$output" "$screenshot" "$windows"
# The window title checked is the English one, whatever the machine prefers.
XDG_RUNTIME_DIR="$runtime" TAVRIN_LANGUAGE=en xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    "$1" >"$2" 2>&1 &
    pid=$!
    sleep "$3"
    xwininfo -root -tree >"$4" 2>&1 || true
    import -window "$6" "$5" 2>/dev/null || true
    if kill -0 "$pid" 2>/dev/null; then
        echo "still running after $3 s"
        kill "$pid"
        wait "$pid" || true
    else
        wait "$pid"
        echo "ended early with exit code $?"
    fi
' run "$root/usr/bin/tavrin-installator" "$output" "$kStayUp" "$windows" "$screenshot" \
    "$kWindowTitle" \
    >"$root/../verdict.txt"
rm -rf "$runtime"
echo "--- program output"
cat "$output"
echo "---"

check "start line" grep -qx "$kStartLine" "$output"
check "stayed up for $kStayUp s" grep -q "still running" "$root/../verdict.txt"
# A missing QML module, a QML error or a file not found beside the executable
# all show up on the message log.
check "no QML or file warnings" bash -c '! grep -E "qrc:/|QQmlApplicationEngine|is not installed|Couldn.t open|not found" "$1"' \
    _ "$output"
check "window \"$kWindowTitle\" shown" grep -q "\"$kWindowTitle\"" "$windows"
# The welcome page fills the window with text and art: far from one colour,
# as an empty or unpainted window would be.
if [ -s "$screenshot" ]; then
    spread="$(convert "$screenshot" -colorspace Gray -format '%[fx:int(1000*standard_deviation)]' info:)"
    check "welcome page drawn (grey spread $spread/1000)" test "$spread" -gt 20
else
    check "screenshot taken" false
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "Package checks passed"
