#!/usr/bin/env bash
# Runs a test program as root on a real Linux kernel: boots Debian's cloud
# kernel under QEMU (software emulation, no KVM needed) with a busybox
# initramfs that holds the HID modules, the program and the shared libraries
# it needs, and exits with the program's verdict.
#
#   guest-run.sh --kernel-cache DIR --work DIR [--env NAME=VALUE]... [--udev-rule FILE]
#                [--with FILE]...
#                PROGRAM [ARGUMENT]...
#
# --kernel-cache  where the kernel package is downloaded and unpacked, once
#                 (it is never installed: installing would run initramfs hooks)
# --work          this run's own folder (initramfs, console log)
# --env           set in the program's environment in the guest
# --udev-rule     run Debian's systemd-udevd in the guest with this rule as its
#                 only one (the udev package is downloaded into the kernel
#                 cache and unpacked, never installed)
# --with          another program (with its libraries) for PROGRAM to run, in
#                 /test/ of the guest beside it; PROGRAM may then be a script
# --usb           boot Debian's standard kernel instead (the cloud one has no
#                 USB) with the USB host and gadget stacks: dummy_hcd's virtual
#                 host controller with two device-side controllers beside it,
#                 configfs and FunctionFS for the gadgets, usbhid for the host
#
# Exit code: 0 when the program passed, 1 when it failed or the guest ended
# without a verdict, 77 when QEMU or the kernel cannot be had on this machine
# (the test is then skipped, never passed).
set -euo pipefail

readonly kSkip=77
readonly kMarker=TAVRIN-GUEST-EXIT
# Seconds for the whole guest run; the test's own limit is above this. The
# USB route's control transfers take a few times longer than uhid's requests
# under emulation.
kGuestTimeout=240
# Each route's modules in the order they are loaded, with their parameters.
# dummy_hcd at full speed, as the accessory is; one controller for the
# accessory, one for the keyboard beside it.
readonly kUhidModules=(hid hid-generic uhid)
readonly kUsbModules=(usb-common usbcore udc-core "dummy_hcd is_high_speed=0 num=2" configfs
    libcomposite usb_f_fs hid hid-generic usbhid)
kModules=("${kUhidModules[@]}")
kKernelMetaPackage=linux-image-cloud-amd64
# What /init waits for before it starts the test program.
awaits=/dev/uhid

here="$(cd "$(dirname "$0")" && pwd)"

skip() {
    echo "SKIP: $*"
    exit "$kSkip"
}
fail() {
    echo "FAIL: $*"
    exit 1
}

cache=
work=
envs=()
udev_rule=
withs=()
while [ $# -gt 0 ]; do
    case "$1" in
    --kernel-cache) cache="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --env) envs+=("$2"); shift 2 ;;
    --udev-rule) udev_rule="$(realpath "$2")"; shift 2 ;;
    --with) withs+=("$(realpath "$2")"); shift 2 ;;
    --usb)
        kModules=("${kUsbModules[@]}")
        kKernelMetaPackage=linux-image-amd64
        awaits=/sys/class/udc/dummy_udc.1
        kGuestTimeout=420
        shift
        ;;
    --) shift; break ;;
    -*) fail "unknown option $1" ;;
    *) break ;;
    esac
done
[ -n "$cache" ] && [ -n "$work" ] && [ $# -ge 1 ] || fail "usage: $0 --kernel-cache DIR --work DIR [--env NAME=VALUE]... PROGRAM [ARGUMENT]..."
program="$(realpath "$1")"
shift
cache="$(realpath -m "$cache")"
work="$(realpath -m "$work")"
[ -x "$program" ] || fail "no test program at $program"

for tool in qemu-system-x86_64 cpio gzip busybox apt-get apt-cache dpkg-deb flock ldd; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (packages qemu-system-x86, busybox-static, cpio)"
done
[ "$(uname -m)" = x86_64 ] || skip "the guest kernel is for x86_64"

kernel_package() {
    apt-cache depends "$kKernelMetaPackage" 2>/dev/null |
        awk '$1 == "Depends:" && $2 ~ /^linux-image-/ { print $2; exit }'
}

download_kernel() {
    local package="$1"
    rm -rf "$cache/download"
    mkdir -p "$cache/download"
    (cd "$cache/download" && apt-get download -q -o APT::Sandbox::User=root "$package")
}

# Downloads and unpacks the kernel and its HID modules once per build folder.
# Test runs that start together wait for one another here.
fetch_kernel() {
    mkdir -p "$cache"
    exec 9>"$cache/.lock"
    flock 9
    if [ -f "$cache/ready" ]; then
        return 0
    fi
    local package
    package="$(kernel_package)"
    if [ -z "$package" ] || ! download_kernel "$package"; then
        # The package lists may be missing or out of date.
        if [ "$(id -u)" -eq 0 ]; then
            apt-get update -qq || true
        fi
        package="$(kernel_package)"
        [ -n "$package" ] || skip "no $kKernelMetaPackage in the package lists"
        download_kernel "$package" || skip "cannot download $package"
    fi
    rm -rf "$cache/root" "$cache/modules"
    dpkg-deb -x "$cache"/download/*.deb "$cache/root" || skip "cannot unpack $package"
    local vmlinuz
    vmlinuz="$(find "$cache/root/boot" -name 'vmlinuz-*' | head -n 1)"
    [ -n "$vmlinuz" ] || skip "$package holds no kernel image"
    mkdir -p "$cache/modules"
    local entry module found
    for entry in "${kModules[@]}"; do
        module="${entry%% *}"
        # Debian 13 keeps the modules under usr/lib/modules.
        found="$(find "$cache/root/lib/modules" "$cache/root/usr/lib/modules" \( -name "$module.ko" -o -name "$module.ko.xz" \) 2>/dev/null | head -n 1 || true)"
        [ -n "$found" ] || skip "$package has no $module module"
        case "$found" in
        *.xz) xz -dc "$found" >"$cache/modules/$module.ko" ;;
        *) cp "$found" "$cache/modules/$module.ko" ;;
        esac
    done
    cp "$vmlinuz" "$cache/vmlinuz"
    rm -rf "$cache/root" "$cache/download"
    echo "$package" >"$cache/ready"
    flock -u 9
}

# Downloads and unpacks Debian's udev once per build folder, with those of its
# libraries that this machine lacks (their files then come from the download).
fetch_udev() {
    local folder="$cache/udev"
    exec 8>"$cache/.udev-lock"
    flock 8
    if [ -f "$folder/ready" ]; then
        return 0
    fi
    rm -rf "$folder"
    mkdir -p "$folder/download"
    local packages=(udev) dependency
    for dependency in $(apt-cache depends udev 2>/dev/null | awk '$1 == "Depends:" && $2 ~ /^lib/ { print $2 }'); do
        dpkg-query -W -f='${Status}' "$dependency" 2>/dev/null | grep -q 'install ok installed' ||
            packages+=("$dependency")
    done
    (cd "$folder/download" && apt-get download -q -o APT::Sandbox::User=root "${packages[@]}") ||
        skip "cannot download ${packages[*]}"
    local package
    for package in "$folder"/download/*.deb; do
        dpkg-deb -x "$package" "$folder/root" || skip "cannot unpack $package"
    done
    rm -rf "$folder/download"
    touch "$folder/ready"
    flock -u 8
}

# udevadm is also systemd-udevd (by the name it is started with); guest-init.sh
# starts it when it is there.
add_udev() {
    local unpacked="$cache/udev/root" library target found udevadm
    # Debian 12's udev keeps it in bin, Debian 13's in usr/bin (with a
    # library in systemd's own folder, below).
    udevadm="$unpacked/bin/udevadm"
    [ -e "$udevadm" ] || udevadm="$unpacked/usr/bin/udevadm"
    cp "$udevadm" "$root/bin/udevadm"
    ln -sf udevadm "$root/bin/systemd-udevd"
    mkdir -p "$root/etc/udev/rules.d" "$root/run"
    cp "$udev_rule" "$root/etc/udev/rules.d/"
    found="$(LD_LIBRARY_PATH="$unpacked/lib/x86_64-linux-gnu:$unpacked/usr/lib/x86_64-linux-gnu:$unpacked/usr/lib/x86_64-linux-gnu/systemd" \
        ldd "$udevadm")"
    ! grep -q 'not found' <<<"$found" || skip "udevadm needs libraries that cannot be had: $found"
    awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }' <<<"$found" |
        while read -r library; do
            target="${library#"$unpacked"}"
            if [ ! -e "$root$target" ]; then
                mkdir -p "$root$(dirname "$target")"
                cp -L "$library" "$root$target"
            fi
        done
}

# Copies a program and every shared library it loads (as ldd resolves them,
# the dynamic loader included) to the same paths under the guest's root.
copy_with_libraries() {
    local file="$1" destination="$2" library
    mkdir -p "$(dirname "$destination")"
    cp -L "$file" "$destination"
    # A static program has no libraries; ldd then says so and fails.
    { ldd "$file" 2>/dev/null || true; } | awk '
        $2 == "=>" && $3 ~ /^\// { print $3 }
        $1 ~ /^\// { print $1 }' | while read -r library; do
        if [ ! -e "$root$library" ]; then
            mkdir -p "$root$(dirname "$library")"
            cp -L "$library" "$root$library"
        fi
    done
}

build_initramfs() {
    rm -rf "$root"
    mkdir -p "$root"/{bin,dev,proc,sys,tmp,root,modules,test}
    copy_with_libraries "$(command -v busybox)" "$root/bin/busybox"
    local applet
    for applet in $("$root/bin/busybox" --list); do
        # busybox itself is not an applet link: it stays the real file.
        [ "$applet" = busybox ] || ln -sf busybox "$root/bin/$applet"
    done
    cp "$cache"/modules/*.ko "$root/modules/"
    printf '%s\n' "${kModules[@]}" >"$root/modules/order"
    echo "$awaits" >"$root/modules/awaits"
    copy_with_libraries "$program" "$root/test/$(basename "$program")"
    if [ -n "$udev_rule" ]; then
        add_udev
    fi
    local with
    for with in "${withs[@]+"${withs[@]}"}"; do
        copy_with_libraries "$with" "$root/test/$(basename "$with")"
    done
    cp "$here/guest-init.sh" "$root/init"
    chmod 755 "$root/init"
    {
        echo "#!/bin/sh"
        local assignment
        for assignment in "${envs[@]+"${envs[@]}"}"; do
            printf 'export %s=%q\n' "${assignment%%=*}" "${assignment#*=}"
        done
        printf 'exec /test/%q' "$(basename "$program")"
        if [ $# -gt 0 ]; then
            printf ' %q' "$@"
        fi
        echo
    } >"$root/test/run"
    (cd "$root" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet | gzip -1) \
        >"$work/initramfs.gz"
}

fetch_kernel
if [ -n "$udev_rule" ]; then
    fetch_udev
fi
mkdir -p "$work"
root="$work/root"
build_initramfs "$@"
rm -rf "$root"

console="$work/console.log"
echo "Booting $(cat "$cache/ready") with $(basename "$program") $*"
set +e
timeout --kill-after=10 "$kGuestTimeout" qemu-system-x86_64 \
    -accel tcg -cpu max -machine q35 -m 512 -smp 1 \
    -nographic -no-reboot -nodefaults -serial stdio -monitor none \
    -kernel "$cache/vmlinuz" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 rdinit=/init quiet panic=-1" \
    </dev/null | tr -d '\r' | tee "$console"
qemu_status=${PIPESTATUS[0]}
set -e

result="$(grep -o "$kMarker [0-9]*" "$console" | tail -n 1 | cut -d ' ' -f 2)"
if [ -z "$result" ]; then
    fail "the guest ended without a verdict (QEMU exit status $qemu_status; console above)"
fi
if [ "$result" -ne 0 ]; then
    echo "Guest test program failed with exit code $result"
    exit 1
fi
echo "Guest test program passed"
