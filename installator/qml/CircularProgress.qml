import QtQuick 2.8
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

            // Qt Quick's software renderer, which the program falls back to
            // without OpenGL 2, draws no shader effects: there the ring is
            // painted instead, the same disc and arc without the soft edge.
            Loader {
                anchors.fill: parent
                sourceComponent: GraphicsInfo.api === GraphicsInfo.Software ? paintedRing
                                                                            : shadedRing
            }

            Component {
                id: shadedRing

                Item {
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
                }
            }

            Component {
                id: paintedRing

                Canvas {
                    readonly property real value: control.value

                    onValueChanged: requestPaint()
                    onPaint: {
                        var context = getContext("2d");
                        var centreX = width / 2;
                        var centreY = height / 2;
                        // The face's edge, inset 1 px like the shaded ring's.
                        var radius = Math.min(width, height) / 2 - 1;
                        var twelveOClock = -Math.PI / 2;
                        context.reset();
                        context.fillStyle = control.clearColor;
                        context.beginPath();
                        context.arc(centreX, centreY, radius, 0, 2 * Math.PI, false);
                        context.fill();
                        if (value <= 0) {
                            return;
                        }
                        // Lower left to upper right, as the shaded ring's.
                        var accent = context.createLinearGradient(1, height - 1, width - 1, 1);
                        accent.addColorStop(0.000, "#018cfd");
                        accent.addColorStop(0.520, "#ad376e");
                        accent.addColorStop(1.000, "#fa1230");
                        context.fillStyle = accent;
                        context.beginPath();
                        context.moveTo(centreX, centreY);
                        context.arc(centreX, centreY, radius, twelveOClock,
                                    twelveOClock + 2 * Math.PI * Math.min(value, 1), false);
                        context.closePath();
                        context.fill();
                    }
                }
            }

            Rectangle {
                anchors.fill: parent
                anchors.margins: control.lineWidth
                color: control.clearColor
                radius: Math.min(width, height) / 2
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
