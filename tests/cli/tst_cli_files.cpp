// tavrin-dfu-demo driven as a process against its simulated accessories: check
// and pack: the commands that need no accessory. Each row is a command line
// with the exit status and the output fragments it must give (clifixture.h).
#include "clifixture.h"
#include "demoaccessory.h"
#include "dfufile.h"

#include <QTest>

class tst_CliFiles : public CliTableTest {
    Q_OBJECT

    void commandRows() override;
};

void tst_CliFiles::commandRows() {
    const QString stored = QString::number(demo::kStoredImageLength);
    row("check escapes the signature", "check {dir}/controls.dfu", 4,
        {"signature \"\\x1bc\\x07\", bLength 16"});
    row("check", "check {dir}/small.dfu", 0,
        {"bcdDevice 0x0001, idProduct 0xfffe, idVendor 0x0a12, bcdDFU 0x0100, signature "
         "\"UFD\", bLength 16",
         "Image length field: 4096 bytes", "Image bytes:        4096",
         "Version:            not stated", "Image: a generated test image, not a firmware release",
         "valid (code 0)"});
    row("check states the file's version", "check --json {dir}/v3.dfu", 0,
        {R"j("fileVersion":"3.0.0",)j"});
    row("check json", "check --json {dir}/small.dfu", 0,
        {R"j("imageBytes":4096,"imageLengthField":4096,)j",
         R"j("size":4112,"status":0,"testImage":true)j"});
    row("check warns of another product", "check {dir}/foreign.dfu", 0,
        {"Warning: the suffix names another product (idVendor 0x1234, idProduct 0xfffe)",
         "valid (code 0)"});
    row("check: a firmware is no test image", "check --json {dir}/stored.dfu", 0,
        {R"j("testImage":false)j"});
    row("check bad crc", "check {dir}/badcrc.dfu", 4, {"check: File CRC is incorrect (code -6)"});
    row("check overlong image length", "check {dir}/overlong.dfu", 4,
        {"Image length field says 5000 bytes; the file holds 4096 (code -5)"});
    row("check missing file", "check {dir}/none.dfu", 4,
        {"Failed to open file \"", "none.dfu\" (code -3): No such file"});
    row("check too short", "check {dir}/image.bin", 4, {"File suffix is invalid (code -5)"});
    row("check refuses a FIFO", "check {fifo}", 4,
        {"check: Failed to open file \"{fifo}\" (code -3): not a regular file"});
    row("check refuses a device", "check /dev/zero", 4, {"(code -3): not a regular file"},
        linuxOnly);
    row("check of 2 GiB", "check {dir}/big.dfu", 4,
        {"big.dfu (2147483648 bytes)",
         "check: File is 2147483648 bytes; at most 16777216 bytes are accepted (code -5)"});
    row("check: one byte more than an upgrade takes", "check {dir}/huge.dfu", 4,
        {"check: File is 16777217 bytes; at most 16777216 bytes are accepted (code -5)"});
    row("pack: one byte more than an upgrade takes", "pack {dir}/huge.bin {dir}/huge-packed.dfu", 4,
        {"pack: File is 16777217 bytes; at most 16777216 bytes are accepted (code -5)"});
    row("pack: a test image too large", "pack --test-image 16777201 {dir}/huge-test.dfu", 4,
        {"pack: File is 16777217 bytes; at most 16777216 bytes are accepted (code -5)"});
    row("a name with control characters is shown escaped", "check {dir}/n\\0033[2J\\0007.dfu", 4,
        {"Failed to open file \"{dir}/n\\x1b[2J\\x07.dfu\" (code -3)"}, linuxOnly);
    row("pack", "pack {dir}/image.bin {dir}/packed.dfu", 0, {"Packed 100 image bytes into"});
    row("pack over itself", "pack {dir}/image.bin {dir}/image.bin", 4,
        {"pack: File \"{dir}/image.bin\" exists and is the image itself (code -4): refused; "
         "--force replaces it"});
    row("pack refuses a FIFO", "pack {fifo} {dir}/x.dfu", 4, {"(code -3): not a regular file"});
    row("pack refuses to replace a FIFO", "pack {dir}/image.bin {fifo}", 4,
        {"pack: Failed to open file \"{fifo}\" (code -3): not a regular file"});
    row("pack refuses an empty image", "pack {dir}/empty.bin {dir}/empty.dfu", 4,
        {"pack: Image is 0 bytes long; its length field needs 14 (code -5)"});
    row("pack refuses a wrong length field", "pack {dir}/wronglength.bin {dir}/x.dfu", 4,
        {"Image length field (100) does not match the image size (104) (code -5): refused"});
    row("pack --force", "pack --force --json {dir}/wronglength.bin {dir}/forced.dfu", 0,
        {R"j("imageBytes":104,"size":120,"status":0)j"});
    row("pack --release", "pack --release 2.4.0 --test-image 4096 {dir}/release.dfu", 0,
        {"Packed 4096 image bytes into {dir}/release.dfu (CRC 0x", ", version 2.4.0)\n"});
    row("check shows the release", "check {dir}/release.dfu", 0,
        {"bcdDevice 0x0240,", "Version:            2.4.0\n"});
    row("pack --release: a MINOR that BCD cannot hold",
        "pack --release 2.10.0 --test-image 4096 {dir}/minor.dfu", 2,
        {"pack: --release 2.10.0: MINOR is at most 9 (the suffix's bcdDevice holds MAJOR 0-99, "
         "MINOR 0-9 and PATCH 0-9)\n"});
    row("pack --release: 0.0.1 is a backup's", "pack --release 0.0.1 {dir}/image.bin {dir}/b.dfu",
        2, {"bcdDevice 0x0001 is what every backup carries"});
    row("a name that is not UTF-8, C locale", "LC_ALL=C check {dir}/caf\\0351.dfu", 0,
        {"caf\\xe9.dfu (4112 bytes)", "valid (code 0)"}, linuxOnly);
    row("json: a name that is not UTF-8 apart from one spelling \\xe9",
        "LC_ALL=C check --json {dir}/caf\\0351.dfu", 0,
        {R"j("file":"{dir}/caf\\xe9.dfu","fileBytes":"{dir}/caf%E9.dfu",)j"}, linuxOnly);
}

QTEST_GUILESS_MAIN(tst_CliFiles)
#include "tst_cli_files.moc"
