import QtQuick 2.5
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4

// A pill-shaped button. The look depends only on the background image and
// on hovering: pressed and disabled buttons look the same. A focus ring shows
// only while the person moves through the wizard with the keyboard
// (`focusTracker` of the scene).
Button {
    id: buttonRoot

    readonly property bool focusRingVisible: activeFocus && focusTracker.keyboardNavigation

    // The empty string selects the plain solid pill.
    property string backgroundImage: "qrc:/installator/Resources/button.svg"

    implicitWidth: 164
    implicitHeight: 45
    width: implicitWidth
    height: implicitHeight

    // Space presses the button already; Enter and Return do too. A key held
    // down must not press the buttons of the following pages one by one.
    Keys.onReturnPressed: {
        if (!event.isAutoRepeat) {
            buttonRoot.clicked();
        }
    }
    Keys.onEnterPressed: {
        if (!event.isAutoRepeat) {
            buttonRoot.clicked();
        }
    }

    style: ButtonStyle {
        background: Rectangle {
            implicitWidth: 164
            implicitHeight: 45
            radius: 22
            color: control.backgroundImage === "" ? "#514e53" : "transparent"

            Image {
                anchors.fill: parent
                source: control.backgroundImage
                // Rendered at the display's scale, as a source size makes Qt
                // render vector art (the default image is one).
                sourceSize: Qt.size(164, 45)
            }

            Rectangle {
                anchors.fill: parent
                radius: 22
                color: "#11ffffff"
                visible: control.hovered
            }

            Rectangle {
                objectName: "focusRing"
                anchors.fill: parent
                anchors.margins: -4
                radius: 26
                color: "transparent"
                border.width: 2
                border.color: "#ffffff"
                visible: control.focusRingVisible
            }
        }

        label: Item {
            StyledText {
                objectName: "buttonLabel"
                anchors.centerIn: parent
                text: control.text
                font.pixelSize: 15
                // Every Roboto face may report the same family name, so the
                // weight is what picks the Medium face.
                font.family: robotoMediumFont.name
                font.weight: Font.Medium
                renderType: Text.QtRendering
            }
        }
    }
}
