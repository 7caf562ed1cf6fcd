import QtQuick 2.5

// A place for one wizard page, created when the PageView activates it (see
// there when): the start builds the first page alone. The page is given its
// name once created.
Loader {
    id: lazyPageRoot

    property string name: ""

    active: false
    anchors.fill: parent
    visible: false

    onLoaded: item.name = name
}
