// tavrin-dfu-demo driven as a process against its simulated accessories: backup
// and verify: the commands that read the firmware back. Each row is a command
// line with the exit status and the output fragments it must give
// (clifixture.h).
#include "clifixture.h"
#include "demoaccessory.h"
#include "dfufile.h"

#include <QTest>

class tst_CliRead : public CliTableTest {
    Q_OBJECT

    void commandRows() override;
};

void tst_CliRead::commandRows() {
    const QString stored = QString::number(demo::kStoredImageLength);
    row("backup over a file", "backup {dir}/small.dfu", 4,
        {"backup: File \"{dir}/small.dfu\" exists (code -4): refused; --force replaces it"});
    row("verify json: a firmware is no test image", "verify --json {dir}/stored.dfu", 0,
        {R"j("testImage":false,)j", R"j("verify":"matched"})j"});
    row("--no-progress: plain lines", "verify --no-progress {dir}/stored.dfu", 0,
        {"!read:", "Verified: the accessory holds"});
    row("a backup into a name that is not UTF-8", "LC_ALL=C backup {dir}/b\\0352.dfu", 0,
        {"into {dir}/b\\xea.dfu"}, linuxOnly);
    row("verify refuses another product's file", "verify --all {dir}/foreign.dfu", 4,
        {"verify: File is for another product"});
    row("backup", "backup {dir}/backup.dfu", 0,
        {"Backed up " + stored + " image bytes into", "read: 0 %\n"});
    row("backup to an unwritable folder", "backup {dir}/none/b.dfu", 4, {"(code -3)"});
    row("backup refuses a FIFO", "backup {fifo}", 4,
        {"backup: Failed to open file \"{fifo}\": not a regular file (code -3)"});
    row("backup through a link", "backup --force {dir}/link.dfu", 0, {"Backed up " + stored},
        linuxOnly);
    row("the link's target holds the backup", "check {dir}/target.dfu", 0, {"(49168 bytes)"},
        linuxOnly);
    row("verify without a temporary folder",
        "TMPDIR=/proc upgrade --verify --bus-root {dir}/bus {dir}/small.dfu", 0,
        {"read: 0 % (0 of 4112 bytes)", ", verified, reset"}, linuxOnly);
    row("verify mismatch", "verify --json {dir}/small.dfu", 6,
        {R"j("code":0,"command":"verify","crc":)j",
         R"j(,"detail":"the firmware read back differs from )j",
         R"j(small.dfu at offset 0 (0x0): file 0x)j", R"j("offset":0,)j", R"j("status":6,)j",
         R"j("verify":"mismatch"})j"});
}

QTEST_GUILESS_MAIN(tst_CliRead)
#include "tst_cli_read.moc"
