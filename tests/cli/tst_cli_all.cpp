// tavrin-dfu-demo driven as a process against its simulated accessories: --all:
// one child process per accessory and the summary. Each row is a command line
// with the exit status and the output fragments it must give (clifixture.h).
#include "clifixture.h"
#include "demoaccessory.h"
#include "dfufile.h"

#include <QTest>

class tst_CliAll : public CliTableTest {
    Q_OBJECT

    void commandRows() override;
};

void tst_CliAll::commandRows() {
    const QString stored = QString::number(demo::kStoredImageLength);
    row("all: three, one fails",
        "upgrade --all --scenario healthy,write-fails,healthy --no-reset {dir}/full.dfu", 5,
        {"upgrade on 3 accessories", "SIM-0002: FAILED",
         "SIM-0001          ok           0      0\n",
         "SIM-0002          failed       5     -8  Upgrade failed (DFU status code = 3): the "
         "accessory may hold an incomplete firmware: run the upgrade again to restore it\n",
         "SIM-0003          ok           0      0\n", "2 of 3 accessories succeeded"});
    row("all json: a station log",
        "upgrade --all --json --verify --scenario healthy,healthy,unplugged {dir}/full.dfu", 5,
        {R"j("operation":"read","path":")j",
         R"j("serial":"SIM-0002","size":65552,"status":0,"testImage":true,"text":"","time":")j",
         R"j("serial":"SIM-0003","size":65552,"status":5,"testImage":true,)j"
         R"j("text":"Failed to get feature information (GetStatus)","time":")j",
         R"j(Z","verify":"matched"})j", R"j(Z","verify":"not run"})j",
         R"j({"accessories":3,"command":"upgrade","durationSeconds":)j",
         R"j(,"event":"summary","failed":1,"status":5,"time":")j"});
    row("all verify", "verify --all --scenario healthy,healthy {dir}/stored.dfu", 0,
        {"2 of 2 accessories succeeded"});
    row("all: a file after --", "upgrade --all --no-reset -- -dash.dfu", 0,
        {"1 of 1 accessories succeeded"});
    row("all: a name that is not UTF-8", "upgrade --all --no-reset {dir}/caf\\0351.dfu", 0,
        {"1 of 1 accessories succeeded"}, linuxOnly);
}

QTEST_GUILESS_MAIN(tst_CliAll)
#include "tst_cli_all.moc"
