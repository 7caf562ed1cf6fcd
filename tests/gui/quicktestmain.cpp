// Entry point of the Qt Quick tests. The resource bundle linked into the
// executable registers itself before main, so the tests reach the wizard's
// components under qrc:/installator/qml.
#include <QtQuickTest>

QUICK_TEST_MAIN(installator_gui)
