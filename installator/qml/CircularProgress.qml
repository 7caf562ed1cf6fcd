import QtQuick 2.6
import QtQuick.Controls 1.4
import QtQuick.Controls.Styles 1.2
import QtGraphicalEffects 1.0

// A ring that fills clockwise with the accent gradient as `value` goes from
// 0 to 1. Children declared inside it are drawn over the ring.
ProgressBar {
    id: progressRoot

    // Colour of the disc and of the part of the ring not yet filled.
    property color clearColor: "#191821"
    // Inset of the inner disc; the visible ring is one pixel narrower.
    property int lineWidth: 5
    property bool textProgressVisible: true

    smooth: true

    style: ProgressBarStyle {
        panel: Item {
            id: panel

            readonly property color emptyColor: control.value === 0 ? control.clearColor
                                                                     : "transparent"
            readonly property color fillColor: control.value < 1.0 ? control.clearColor
                                                                    : "transparent"

            implicitWidth: settings.circularProgressSize
            implicitHeight: implicitWidth

            Rectangle {
                id: face
                anchors.fill: parent
                anchors.margins: 1
                color: control.clearColor
                radius: Math.min(width, height) / 2
                smooth: true
            }

            // The full ring in the accent gradient does not depend on
            // `value`: drawn once into a texture instead of at every frame.
            LinearGradient {
                id: colourGradient
                anchors.fill: parent
                anchors.margins: 1
                source: face
                cached: true
                smooth: true
                start: Qt.point(0, height)
                end: Qt.point(width, 0)
                gradient: Gradient {
                    GradientStop {
                        position: 0.000
                        color: "#018cfd"
                    }
                    GradientStop {
                        position: 0.520
                        color: "#ad376e"
                    }
                    GradientStop {
                        position: 1.000
                        color: "#fa1230"
                    }
                }
            }

            // Covers the part of the disc beyond `value` with the clear
            // colour; a soft edge of 1 % of a turn follows the filled arc.
            ConicalGradient {
                anchors.fill: parent
                source: colourGradient
                gradient: Gradient {
                    GradientStop {
                        position: 0.00
                        color: panel.emptyColor
                    }
                    GradientStop {
                        position: control.value
                        color: panel.emptyColor
                    }
                    GradientStop {
                        position: control.value + 0.01
                        color: panel.fillColor
                    }
                    GradientStop {
                        position: 1.00
                        color: panel.fillColor
                    }
                }
            }

            Rectangle {
                anchors.fill: parent
                anchors.margins: control.lineWidth
                color: control.clearColor
                radius: face.radius
            }

            StyledText {
                id: percentLabel
                objectName: "percentLabel"
                anchors.centerIn: parent
                visible: control.textProgressVisible
                font.pixelSize: 50
                text: Math.round(control.value * 100).toFixed(0)

                StyledText {
                    objectName: "percentSign"
                    anchors.verticalCenter: parent.top
                    anchors.left: parent.right
                    font.pixelSize: 15
                    text: "%"
                }
            }
        }
    }
}
