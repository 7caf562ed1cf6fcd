import QtQuick 2.5

// A place for one wizard page that creates it only when it is first shown:
// the start builds the first page alone, and a page nobody reaches costs
// nothing. The page is given its name once created.
Loader {
    id: lazyPageRoot

    property string name: ""

    active: false
    anchors.fill: parent
    visible: false

    onLoaded: item.name = name
}
