import QtQuick 2.5
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.4

// A pill-shaped button. The look depends only on the background image and
// on hovering: pressed, focused and disabled buttons look the same.
Button {
    id: buttonRoot

    // The empty string selects the plain solid pill.
    property string backgroundImage: "qrc:/installator/Resources/button.svg"

    implicitWidth: 164
    implicitHeight: 45
    width: implicitWidth
    height: implicitHeight

    style: ButtonStyle {
        background: Rectangle {
            implicitWidth: 164
            implicitHeight: 45
            radius: 22
            color: control.backgroundImage === "" ? "#514e53" : "transparent"

            Image {
                anchors.fill: parent
                source: control.backgroundImage
            }

            Rectangle {
                anchors.fill: parent
                radius: 22
                color: "#11ffffff"
                visible: control.hovered
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
