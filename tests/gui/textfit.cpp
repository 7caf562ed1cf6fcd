#include "textfit.h"

#include "appfolder.h"
#include "hiddfu.h"

#include <QQuickItem>
#include <QRectF>

namespace wizardtest {

QQuickItem* controlOf(QQuickItem* item) {
    QQuickItem* up = item->parentItem();
    while (up && !up->property("__panel").isValid())
        up = up->parentItem();
    return up;
}

namespace {

// Half a pixel of rounding in a laid out size or place.
constexpr qreal kRounding = 0.5;

bool isText(const QQuickItem* item) {
    return item->inherits("QQuickText") || item->inherits("QQuickTextEdit");
}

bool isAncestor(const QQuickItem* ancestor, const QQuickItem* item) {
    const QQuickItem* up = item->parentItem();
    while (up && up != ancestor)
        up = up->parentItem();
    return up;
}

// Drawn below the text's own branch by one of its containers, as the band's
// tint under the buttons' labels.
bool isBackground(const QQuickItem* other, const QQuickItem* text) {
    for (const QQuickItem* branch = text; branch->parentItem(); branch = branch->parentItem()) {
        const QList<QQuickItem*> siblings = branch->parentItem()->childItems();
        if (other->parentItem() == branch->parentItem())
            return other->z() <= branch->z() &&
                   siblings.indexOf(const_cast<QQuickItem*>(other)) <
                       siblings.indexOf(const_cast<QQuickItem*>(branch));
    }
    return false;
}

// The item's box, or a text's lines, in the scene.
QRectF box(const QQuickItem* item) {
    return item->mapRectToScene(isText(item) ? item->boundingRect()
                                             : QRectF(0, 0, item->width(), item->height()));
}

bool within(const QRectF& inner, const QRectF& outer) {
    return outer.adjusted(-kRounding, -kRounding, kRounding, kRounding).contains(inner);
}

QString describe(const QQuickItem* item) {
    const QString name =
        item->objectName().isEmpty() ? item->metaObject()->className() : item->objectName();
    const QRectF r = box(item);
    return QStringLiteral("%1 \"%2\" at %3,%4 %5x%6")
        .arg(name, item->property("text").toString().left(30).replace('\n', ' '))
        .arg(r.x())
        .arg(r.y())
        .arg(r.width())
        .arg(r.height());
}

void visibleItems(QQuickItem* item, QVector<QQuickItem*>& found) {
    if (!item->isVisible() || item->opacity() <= 0)
        return;
    found << item;
    for (QQuickItem* child : item->childItems())
        visibleItems(child, found);
}

// The text's lines cut to the views that scroll it; what is wrong with its
// box, the window, the items that clip it and its control.
QRectF placeText(QQuickItem* text, const QRectF& window, QStringList& problems) {
    if (text->property("contentWidth").toReal() > text->width() + kRounding ||
        text->property("contentHeight").toReal() > text->height() + kRounding)
        problems << describe(text) + ": more text than its box holds";
    QRectF lines = box(text);
    for (QQuickItem* up = text->parentItem(); up; up = up->parentItem()) {
        if (up->inherits("QQuickFlickable"))
            lines = lines.intersected(box(up));
        else if (up->clip() && !within(lines, box(up)))
            problems << describe(text) + " clipped by " + describe(up);
    }
    if (QQuickItem* control = controlOf(text); control && !within(lines, box(control)))
        problems << describe(text) + " leaves " + describe(control);
    if (!within(lines, window))
        problems << describe(text) + " leaves the window";
    return lines;
}

} // namespace

QByteArray testScreen() {
    return qEnvironmentVariableIsSet("TAVRIN_TEST_SCREEN") ? qgetenv("TAVRIN_TEST_SCREEN")
                                                           : QByteArray("1280x1024");
}

QString displayName() {
    const double scale =
        qEnvironmentVariableIsSet("QT_SCALE_FACTOR") ? qgetenv("QT_SCALE_FACTOR").toDouble() : 1.0;
    return QString::fromLatin1(testScreen()) +
           (qFuzzyCompare(scale, 1.0) ? QString() : QStringLiteral(" at %1 %").arg(scale * 100));
}

QVector<PageState> pageStates() {
    const QJsonObject older{{"firmwareVersion", "2.3.0"}}, newer{{"firmwareVersion", "2.4.0"}};
    QVector<PageState> states = {
        {"welcome", "welcomePage", {}, {}, kNoAccessory},
        {"welcome, damaged file",
         "welcomePage",
         {},
         {{"dfuUpdateUrl", kDamagedFirmware}},
         kNoAccessory},
        {"welcome, no file", "welcomePage", {}, {{"dfuUpdateUrl", "missing.dfu"}}, kNoAccessory},
        {"changelog", "changelogPage", {}, {}, kNoAccessory},
        {"accessories", "accessoriesPage", {}, {}, kNoAccessory},
        {"switch off", "howTo1Page", {}, {}, kNoAccessory},
        {"connect", "howTo2Page", {}, {}, kNoAccessory},
        {"ready, no accessory", "howTo3Page", {}, {}, kNoAccessory},
        {"ready, versions equal", "howTo3Page", {}, older, 0x0230},
        {"ready, update older", "howTo3Page", {}, older, 0x0251},
        {"ready, update newer", "howTo3Page", {}, newer, 0x0230},
        {"ready, versions not stated", "howTo3Page", {}, {}, 0},
        {"progress", "progressPage", {}, {}, kNoAccessory},
        {"progress, closing", "progressPage", {{"closeWhenDone", true}}, {}, kNoAccessory},
        {"success, version stated", "successPage", {}, newer, kNoAccessory},
        {"success, version not stated", "successPage", {}, {}, kNoAccessory}};
    // Each failure with the text the error page gets: the connection's is the
    // text copy's (named by its key here), an unknown one's is empty.
    for (int code : {-2, -3, -5, -6, -7, -8, -12, -14, -15, -16, -17, -20}) {
        const QString text =
            code == -2   ? QStringLiteral("failedConnectionText")
            : code == -3 ? QStringLiteral("Failed to open file \"%1\": No such file or directory")
                               .arg(appfolder::path("missing.dfu"))
            : code == -20 ? QString()
                          : QString::fromUtf8(hidDfuResultText(code));
        states.append({QStringLiteral("error %1").arg(code),
                       "errorPage",
                       QVariantMap{{"error", code}, {"errorText", text}},
                       {},
                       kNoAccessory});
    }
    return states;
}

QStringList textProblems(QQuickWindow* window) {
    QVector<QQuickItem*> items;
    visibleItems(window->contentItem(), items);
    // What a text may not run into: drawn items, a control as a whole.
    QVector<QQuickItem*> obstacles;
    for (QQuickItem* item : items) {
        QQuickItem* obstacle = controlOf(item) ? controlOf(item) : item;
        if ((item->flags() & QQuickItem::ItemHasContents) && !obstacles.contains(obstacle))
            obstacles << obstacle;
    }
    QStringList problems;
    for (QQuickItem* text : items) {
        if (!isText(text) || text->property("text").toString().isEmpty())
            continue;
        const QRectF lines = placeText(text, QRectF(QPointF(), window->size()), problems);
        for (QQuickItem* other : obstacles) {
            const QRectF common = lines.intersected(box(other));
            // Each pair of texts once.
            if (other != text && other != controlOf(text) && !isAncestor(other, text) &&
                !isAncestor(text, other) && !isBackground(other, text) &&
                !(isText(other) && items.indexOf(other) < items.indexOf(text)) &&
                common.width() > kRounding && common.height() > kRounding)
                problems << describe(text) + " overlaps " + describe(other);
        }
    }
    return problems;
}

} // namespace wizardtest
