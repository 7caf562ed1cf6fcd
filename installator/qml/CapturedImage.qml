import QtQuick 2.4

// A picture above a one-line caption. The caption is as wide as its text,
// so a long one reaches past the cell on both sides.
Item {
    id: capturedImageRoot

    property alias text: caption.text
    property alias source: image.source
    property alias sourceSize: image.sourceSize

    width: 160
    height: 136

    Item {
        id: pictureArea
        anchors.top: parent.top
        width: 160
        height: 100

        Image {
            id: image
            objectName: "picture"
            anchors.centerIn: parent
            // Drawn within its source size with its aspect ratio kept: a
            // vector image would otherwise be stretched to the source size,
            // and under PreserveAspectFit Qt decodes it to cover that size.
            width: sourceSize.width
            height: sourceSize.height
            fillMode: Image.PreserveAspectFit
            antialiasing: true
            // The caption names the picture for a screen reader; read once.
            Accessible.role: Accessible.Graphic
            Accessible.name: caption.text
        }
    }

    RegularText {
        id: caption
        objectName: "caption"
        anchors.bottom: parent.bottom
        height: 24
        Accessible.ignored: true
    }
}
