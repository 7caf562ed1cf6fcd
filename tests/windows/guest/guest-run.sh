#!/usr/bin/env bash
# Runs a script in the Wine guest of scripts/windows-guest: Debian 13 with
# Wine 10 on the kernel the kernel tests boot, under QEMU, with the
# simulated accessory on /dev/uhid (tavrin-uhid-accessory) as the HID device
# Wine's bus driver finds, and the Windows programs given here. Exits with
# the script's verdict.
# The first --windows must hold tavrin-dfu.exe, where it is a folder.
#
#   guest-run.sh [--guest DIR] --work DIR --accessory PROGRAM --windows FILE_OR_DIR
#                [--windows ...] [--with FILE]... [--env NAME=VALUE]... SCRIPT
#
# --guest      the folder scripts/windows-guest built (root.img, vmlinuz,
#              initramfs.gz, guest.stamp); by default the one it names
# --work       this run's own folder (the run's archive, console log)
# --accessory  tavrin-uhid-accessory, built for Linux (the Linux build's)
# --windows    a Windows program or DLL, or a folder of them, for
#              /payload/win/ in the guest (the programs' folder)
# --with       another file for /payload/ (a script the run sources)
# --env        set in the script's environment
#
# Exit code: 0 when the script passed, 1 when it failed or the guest ended
# without a verdict, 77 when the guest is not built or QEMU is missing (the
# test is then skipped, never passed).
set -euo pipefail

readonly kSkip=77
readonly kMarker=TAVRIN-GUEST-EXIT
# Seconds for the whole guest run; the test's own limit is above this.
readonly kGuestTimeout=1500
here="$(cd "$(dirname "$0")" && pwd)"

skip() {
    echo "SKIP: $*"
    exit "$kSkip"
}
fail() {
    echo "FAIL: $*"
    exit 1
}

guest=
work=
accessory=
windows=()
withs=()
envs=()
while [ $# -gt 0 ]; do
    case "$1" in
    --guest) guest="$2"; shift 2 ;;
    --work) work="$2"; shift 2 ;;
    --accessory) accessory="$2"; shift 2 ;;
    --windows) windows+=("$2"); shift 2 ;;
    --with) withs+=("$2"); shift 2 ;;
    --env) envs+=("$2"); shift 2 ;;
    -*) fail "unknown option $1" ;;
    *) break ;;
    esac
done
[ -n "$work" ] && [ -n "$accessory" ] && [ ${#windows[@]} -gt 0 ] && [ $# -eq 1 ] ||
    fail "usage: $0 [--guest DIR] --work DIR --accessory PROGRAM --windows FILE_OR_DIR... SCRIPT"
script="$1"
[ -n "$guest" ] || guest="$("$here/../../../scripts/windows-guest" --folder)"

[ -f "$guest/guest.stamp" ] ||
    skip "no Wine guest in $guest: scripts/windows-guest builds it once (about 2 minutes, 2.3 GB)"
first="${windows[0]}"
if [ ! -e "$first" ] || { [ -d "$first" ] && [ ! -f "$first/tavrin-dfu.exe" ]; }; then
    skip "no Windows programs in $first: scripts/windows builds and installs them"
fi
command -v qemu-system-x86_64 >/dev/null || skip "qemu-system-x86_64 is not installed (package qemu-system-x86)"
[ -x "$accessory" ] || skip "no tavrin-uhid-accessory at $accessory: build the Linux programs first (cmake --build build --target tavrin-uhid-accessory)"

mkdir -p "$work"
work="$(realpath "$work")"
payload="$work/payload"
rm -rf "$payload"
mkdir -p "$payload/payload/win" "$payload/payload/bin"
cp "$here/guest-init.sh" "$payload/payload/init"
cp "$script" "$payload/payload/run"
cp -L "$accessory" "$payload/payload/bin/tavrin-uhid-accessory"
for item in "${windows[@]+"${windows[@]}"}"; do
    if [ -d "$item" ]; then
        cp -a "$item/." "$payload/payload/win/"
    else
        cp -L "$item" "$payload/payload/win/"
    fi
done
for item in "${withs[@]+"${withs[@]}"}"; do
    cp -L "$item" "$payload/payload/"
done
{
    for assignment in "${envs[@]+"${envs[@]}"}"; do
        printf 'export %s=%q\n' "${assignment%%=*}" "${assignment#*=}"
    done
} >"$payload/payload/env"
# The first stage (the guest's) finds this archive's files in /payload.
(cd "$payload" && find . | LC_ALL=C sort | cpio -o -H newc -R 0:0 --quiet | gzip -1) >"$work/payload.cpio.gz"
cat "$guest/initramfs.gz" "$work/payload.cpio.gz" >"$work/initramfs.gz"
rm -rf "$payload" "$work/payload.cpio.gz"

console="$work/console.log"
echo "Booting the Wine guest ($(head -n 1 "$guest/guest.stamp")) with $(basename "$script")"
set +e
# Every Wine process oopsed the guest's kernel with -cpu max under software
# emulation; this processor model (with what Wine's code expects of x86-64)
# works. The disk is opened as a snapshot: the image stays as built.
timeout --kill-after=10 "$kGuestTimeout" nice qemu-system-x86_64 \
    -accel tcg -cpu "${TAVRIN_GUEST_CPU:-qemu64,+ssse3,+sse4.1,+sse4.2,+popcnt,+cx16}" -machine q35 -m 2048 -smp "${TAVRIN_GUEST_SMP:-1}" \
    -nographic -no-reboot -nodefaults -serial stdio -monitor none \
    -drive "file=$guest/root.img,if=virtio,format=raw,snapshot=on" \
    -kernel "$guest/vmlinuz" -initrd "$work/initramfs.gz" \
    -append "console=ttyS0 rdinit=/init quiet panic=-1" \
    </dev/null | tr -d '\r' | tee "$console"
qemu_status=${PIPESTATUS[0]}
set -e
rm -f "$work/initramfs.gz"

# Pictures the script printed (TAVRIN-PICTURE-BEGIN NAME, base64, END) are
# kept in the work folder.
awk -v dir="$work" '
    /^TAVRIN-PICTURE-BEGIN / { file = dir "/" $2 ".base64"; printf "" >file; next }
    /^TAVRIN-PICTURE-END/ { close(file); file = ""; next }
    file != "" { print >>file }' "$console"
for encoded in "$work"/*.base64; do
    [ -f "$encoded" ] || continue
    base64 -d "$encoded" >"${encoded%.base64}" && echo "Picture: ${encoded%.base64}"
    rm -f "$encoded"
done

result="$(grep -ao "$kMarker [0-9]*" "$console" | tail -n 1 | cut -d ' ' -f 2)"
if [ -z "$result" ]; then
    fail "the guest ended without a verdict (QEMU exit status $qemu_status; console above)"
fi
if [ "$result" -ne 0 ]; then
    echo "Guest script failed with exit code $result"
    exit 1
fi
echo "Guest script passed"
