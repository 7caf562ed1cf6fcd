import QtQuick 2.5
import QtQuick.Layouts 1.1

// A gap in a page's column: `size` high while the page has the room, and
// down to `least` when the texts need it.
Item {
    property real size: 0
    property real least: size

    Layout.fillHeight: true
    Layout.minimumHeight: least
    Layout.preferredHeight: size
    Layout.maximumHeight: size
}
