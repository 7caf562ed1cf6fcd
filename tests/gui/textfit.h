// What tst_wizardlayout's check of the texts needs: the display it runs on,
// the pages in every state that changes what they say, and what a text may
// not do.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>

namespace wizardtest {

// The screen of the test's X server: TAVRIN_TEST_SCREEN ("1024x600"), else
// 1280x1024.
QByteArray testScreen();
// That screen and Qt's QT_SCALE_FACTOR, as row names say them
// ("1280x1024 at 200 %").
QString displayName();

// A page in a state that changes what it says, with the text copy's keys
// and the attached accessory's firmware version that bring it about.
struct PageState {
    QString name;
    QString page;
    QVariantMap properties;
    QJsonObject copy;
    int release;
};
constexpr int kNoAccessory = -1;
// Named by the text copy in the state of a damaged file; the test makes it.
constexpr char kDamagedFirmware[] = "damaged.dfu";
QVector<PageState> pageStates();

// The control of Qt Quick Controls 1 that item is drawn in (its style's
// part), null for none.
QQuickItem* controlOf(QQuickItem* item);

// What is wrong with the window's visible texts, one line each: a text
// larger than its box, outside the window or a clipping item, or overlapping
// another drawn item. A text in a control (a button, a ring) stays within it
// and may cover its parts; it may stand on its containers' backgrounds.
QStringList textProblems(QQuickWindow* window);

} // namespace wizardtest
