// tavrin-dfu-demo driven as a process against its simulated accessories: list:
// the HID interfaces, plain and as JSON. Each row is a command line with the
// exit status and the output fragments it must give (clifixture.h).
#include "clifixture.h"

#include <QTest>

class tst_CliList : public CliTableTest {
    Q_OBJECT

    void commandRows() override;
};

void tst_CliList::commandRows() {
    row("list", "list --scenario healthy,healthy", 0,
        {"* 0a12:fffe  ff00:0001      64  SIM-0001", "SIM-0002      2.3.0    ", "dev/hidraw1"});
    row("list json", "list --json --bus-root {dir}/bus", 0,
        {R"j([{"accessory":true,"deviceVersion":"2.3.0","featureReportLength":64,)j"
         R"j("manufacturer":"TAVRIN","path":")j",
         R"j(/bus/dev/hidraw0","product":"TAVRIN accessory (simulated)","productId":65534,)j"
         R"j("serialNumber":"SIM-0001","usage":1,"usagePage":65280,"vendorId":2578}])j"});
    row("list escapes what a device sends", "list --serial-numbers A\x1b[2J\x9b", 0,
        {"A\\x1b[2J\\x9b"});
    row("list json escapes it too", "list --json --serial-numbers A\x1b[2J\x9b", 0,
        {"A\\u001b[2J\\u009b"});
    row("list nothing", "list --scenario no-accessory", 0, {"No HID interfaces found."});
}

QTEST_GUILESS_MAIN(tst_CliList)
#include "tst_cli_list.moc"
