# The flasher against the accessory on a real HID stack: one table for the
# Linux kernel guest (cli-guest.sh: tavrin-dfu on hidraw) and the Wine guest
# (tests/windows/guest/rows.sh: tavrin-dfu.exe on Wine's HID class over the
# same hidraw node). Sourced by either, which first defines:
#   PLATFORM    linux or windows: rows of the other platform are skipped
#   ROUTE       usb when the accessory is a USB device (cli-guest.sh usb);
#               rows marked usb run only then
#   ACCESSORY   the tavrin-uhid-accessory program
#   DFU         a program that runs the flasher with its arguments, its
#               output (both streams, lines ending in LF, each as it comes)
#               on standard output, and exits with its status
# then calls run_rows in a work folder, which returns the number of failed
# rows.
#
# A row: WHERE | NAME | ACCESSORY | COMMAND | STATUS | OUTPUT
#   WHERE      both, linux, windows or usb
#   ACCESSORY  options of a fresh tavrin-uhid-accessory (with a keyboard
#              before it), or = to keep the one of the row before
#   COMMAND    the flasher's arguments, in a work folder holding
#              firmware.dfu (6000 bytes) and long.dfu (120000 bytes); or
#              @records (the reports the accessory received, after it is
#              removed), @second-writer (a second upgrade started while a
#              first writes long.dfu; the second's output, then the first's
#              status), @wait (an upgrade with --wait, the accessory created
#              once the flasher says it waits), @previous (the row before's
#              output again), @killed (the accessory program killed while
#              an upgrade of long.dfu writes; the upgrade's output)
#   STATUS     the exit status
#   OUTPUT     extended regular expressions separated by " ;; ", each to
#              match a line of the output; one starting with ! must match none
#
# A flasher that does not end within kHangSeconds fails its row as hung.
# TAVRIN_ROWS_VERBOSE=1 shows every row's output, not only a failed one's.

# WHERE | NAME | ACCESSORY | COMMAND | STATUS | OUTPUT
cli_rows() {
    cat <<'ROWS'
both    | list: report length 64                            | --report-length 64  | list | 0 | ^\* 0a12:fffe  ff00:0001 +64 
both    | list: report length 32                            | --report-length 32  | list | 0 | ^\* 0a12:fffe  ff00:0001 +32 
both    | list: report length 255                           | --report-length 255 | list | 0 | ^\* 0a12:fffe  ff00:0001 +255 
both    | list --json carries the report length             | --report-length 64  | list --json | 0 | "featureReportLength":64,
linux   | list names the hidraw node                        | =   | list | 0 | ^\* 0a12:fffe .*/dev/hidraw[0-9]+$
windows | list names the HID class's interface              | =   | list | 0 | ^\* 0a12:fffe .*\\\\\?\\hid#vid_0a12&pid_fffe
usb     | list shows bcdDevice as the version               | =   | list --json | 0 | "accessory":true,"deviceVersion":"1\.0\.0",
both    | list shows the keyboard too                       | =   | list | 0 | ^  0a0b:0001  0001:0006 
both    | upgrade --verify                                  | --report-length 64  | upgrade --verify firmware.dfu | 0 | ^Upgraded with firmware.dfu, verified, reset$
both    | the accessory holds the image after the reset     | =   | verify firmware.dfu | 0 | ^Verified: the accessory holds firmware.dfu$
both    | backup                                            | =   | backup backup.dfu | 0 | ^Backed up 6000 image bytes into backup.dfu \(CRC 0x[0-9a-f]{8}, version [^)]+\)$
both    | the backup passes the file check                  | =   | check backup.dfu | 0 | ^Image length field: 6000 bytes$ ;; ^Result: +valid \(code 0\)$
both    | reset                                             | --report-length 64  | reset | 0 | ^Reset$
both    | the accessory was told to reset                   | =   | @records | 0 | ^> 03 ff$
both    | a device that answers status 3                    | --status 3          | upgrade firmware.dfu | 5 | ^tavrin-dfu upgrade: Upgrade failed \(DFU status code = 3\) \(code -8\): nothing was written: run the upgrade again$
both    | unplugged during the write                        | --unplug-at-report 40 | upgrade firmware.dfu | 5 | \(code -12\)
linux   | killed during the write (not yet run under Wine)  | --report-length 64  | @killed | 5 | \(code -12\)
both    | a second writer is refused while the first writes | --report-length 64 --poll-timeout 3 | @second-writer | 3 | ^tavrin-dfu upgrade: Accessory is in use by another program ;; ^first writer: status 0$ ;; !had ended
linux   | the second writer is told who holds it            | =   | @previous | 0 | Accessory is in use by another program \(tavrin-dfu, process [0-9]+\)
both    | --wait sees an accessory created after the start  | --report-length 64  | @wait | 0 | ^Waiting up to 300 s for the accessory ;; ^Upgraded with firmware.dfu, reset$
ROWS
}

kHangSeconds=300
accessory_pid=

dfu() {
    "$DFU" "$@"
}

# Waits until the flasher lists the accessory; false after a while.
cli_accessory_listed() {
    tries=0
    until dfu list 2>/dev/null | grep -q '^\* 0a12:fffe'; do
        tries=$((tries + 1))
        [ "$tries" -lt 30 ] || return 1
        sleep 1
    done
}

# cli_start_accessory OPTIONS: a keyboard, then the accessory.
cli_start_accessory() {
    # shellcheck disable=SC2086 # the options are words
    "$ACCESSORY" --keyboard $1 >accessory.log 2>&1 &
    accessory_pid=$!
}

cli_stop_accessory() {
    if [ -n "$accessory_pid" ]; then
        kill -INT "$accessory_pid" 2>/dev/null
        wait "$accessory_pid" 2>/dev/null
        accessory_pid=
    fi
}

cli_guarded() {
    timeout -k 10 "$kHangSeconds" "$@"
}

# The first writer must hold the accessory when the second starts: the
# second starts once the first has reported progress, and the first must
# still be writing when the second has been refused.
cli_second_writer() {
    dfu upgrade --verify --no-reset --json long.dfu >first.txt 2>&1 &
    first=$!
    tries=0
    until grep -q '"event":"progress"' first.txt || [ "$tries" -ge 600 ]; do
        sleep 0.2
        tries=$((tries + 1))
    done
    cli_guarded "$DFU" upgrade long.dfu >second.txt 2>&1
    second=$?
    kill -0 "$first" 2>/dev/null || echo "the first writer had ended before the second was refused"
    wait "$first"
    echo "first writer: status $?"
    cat second.txt
    return "$second"
}

cli_wait_for_accessory() {
    dfu upgrade --wait 300 firmware.dfu >waiting.txt 2>&1 &
    waiter=$!
    tries=0
    until grep -q 'Waiting up to' waiting.txt || [ "$tries" -ge 600 ]; do
        sleep 0.2
        tries=$((tries + 1))
    done
    cli_start_accessory "$1"
    wait "$waiter"
    status=$?
    cat waiting.txt
    return "$status"
}

# The device program's death takes its devices away, as a cable pulled.
cli_killed() {
    dfu upgrade long.dfu >upgrading.txt 2>&1 &
    upgrading=$!
    tries=0
    until grep -q 'write: ' upgrading.txt || [ "$tries" -ge 600 ]; do
        sleep 0.2
        tries=$((tries + 1))
    done
    kill -KILL "$accessory_pid"
    wait "$accessory_pid" 2>/dev/null
    accessory_pid=
    wait "$upgrading"
    status=$?
    cat upgrading.txt
    return "$status"
}

cli_trim() {
    printf '%s' "$1" | sed 's/^ *//; s/ *$//'
}

# cli_matches OUTPUT_FILE PATTERNS: each pattern holds.
cli_matches() {
    rest="$2"
    while [ -n "$rest" ]; do
        pattern="$(cli_trim "${rest%% ;; *}")"
        case "$rest" in
        *" ;; "*) rest="${rest#* ;; }" ;;
        *) rest= ;;
        esac
        case "$pattern" in
        !*) ! grep -Eq -- "${pattern#!}" "$1" || return 1 ;;
        *) grep -Eq -- "$pattern" "$1" || return 1 ;;
        esac
    done
}

run_rows() {
    failed=0
    cli_rows >rows.txt
    dfu pack --test-image 6000 firmware.dfu >/dev/null || failed=$((failed + 1))
    dfu pack --test-image 120000 long.dfu >/dev/null || failed=$((failed + 1))
    while IFS='|' read -r where name accessory command status patterns; do
        where="$(cli_trim "$where")"
        name="$(cli_trim "$name")"
        accessory="$(cli_trim "$accessory")"
        command="$(cli_trim "$command")"
        status="$(cli_trim "$status")"
        if [ "$where" != both ] && [ "$where" != "$PLATFORM" ] && [ "$where" != "${ROUTE:-}" ]; then
            continue
        fi
        if [ "$accessory" != = ] && [ "$command" != @wait ]; then
            cli_stop_accessory
            cli_start_accessory "$accessory"
        fi
        # After a reset the accessory leaves the bus for a moment.
        case "$command" in
        @*) ;;
        *) cli_accessory_listed || echo "the accessory did not appear" >>accessory.log ;;
        esac
        case "$command" in
        @previous)
            cp previous.txt output.txt
            actual=0
            ;;
        @records)
            cli_stop_accessory
            cp accessory.log output.txt
            actual=0
            ;;
        @second-writer)
            cli_accessory_listed
            cli_second_writer >output.txt 2>&1
            actual=$?
            ;;
        @killed)
            cli_accessory_listed
            cli_killed >output.txt 2>&1
            actual=$?
            ;;
        @wait)
            cli_stop_accessory
            cli_wait_for_accessory "$accessory" >output.txt 2>&1
            actual=$?
            ;;
        *)
            # shellcheck disable=SC2086 # the arguments are words
            cli_guarded "$DFU" $command >output.txt 2>&1
            actual=$?
            ;;
        esac
        if [ "$actual" = "$status" ] && cli_matches output.txt "$patterns"; then
            echo "ok: $name"
            [ -z "${TAVRIN_ROWS_VERBOSE:-}" ] || sed 's/^/    /' output.txt
        else
            failed=$((failed + 1))
            [ "$actual" = 124 ] && echo "FAILED: $name: hung, stopped after $kHangSeconds s"
            echo "FAILED: $name: status $actual (expected $status), output:"
            sed 's/^/    /' output.txt
            [ -f accessory.log ] && sed 's/^/    accessory: /' accessory.log | tail -n 5
        fi
        cp output.txt previous.txt
    done <rows.txt
    cli_stop_accessory
    echo "$failed row(s) failed"
    return "$failed"
}
