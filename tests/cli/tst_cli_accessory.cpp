// tavrin-dfu-demo driven as a process against its simulated accessories: reset,
// and choosing the accessory: --wait, --serial, --path. Each row is a command
// line with the exit status and the output fragments it must give
// (clifixture.h).
#include "clifixture.h"

#include <QTest>

class tst_CliAccessory : public CliTableTest {
    Q_OBJECT

    void commandRows() override;
};

void tst_CliAccessory::commandRows() {
    row("reset", "reset", 0, {"Reset"});
    row("wait: appears late", "reset --appear-after 1500 --wait 20", 0,
        {"Waiting up to 20 s for the accessory...", "Reset"});
    row("wait: not a number", "reset --wait nan", 2, {"reset: --wait needs a number of seconds\n"});
    row("wait: for ever", "reset --wait inf", 2, {"--wait needs a number of seconds"});
    row("wait: never appears", "reset --scenario no-accessory --wait 1", 3,
        {"Waiting up to 1 s", "(code -2): no accessory found"});
    row("serial picks the second", "reset --json --scenario healthy,healthy --serial SIM-0002", 0,
        {R"j(/dev/hidraw1","serial":"SIM-0002","status":0)j"});
    row("serial shared by two", "reset --scenario healthy,healthy --serial-numbers D,D --serial D",
        2, {"reset: 2 accessories have serial number \"D\": choose one with --path (see list)\n"});
    row("serial not there", "reset --scenario healthy,healthy --serial SIM-0003", 3,
        {"no accessory with serial number \"SIM-0003\""});
    row("path picks the second",
        "reset --json --bus-root {dir}/bus --scenario healthy,healthy --path {dir}/bus/dev/hidraw1",
        0, {R"j(/bus/dev/hidraw1","serial":"SIM-0002","status":0)j"});
    row("path not an accessory", "reset --path /dev/null", 3, {"no accessory at /dev/null"});
}

QTEST_GUILESS_MAIN(tst_CliAccessory)
#include "tst_cli_accessory.moc"
