import QtQuick 2.6
import QtQuick.Window 2.2
import QtQuick.Layouts 1.1
import QtQuick.Controls 1.5
import QtQuick.Controls.Styles 1.2
import QtGraphicalEffects 1.0

// One line of text, so that the reference pays what any window that draws
// pays: the OpenGL pipeline, shaders and a glyph cache.
Window {
    visible: true
    width: 918
    height: 616
    color: "#222024"

    Text {
        anchors.centerIn: parent
        color: "#ffffff"
        font.pixelSize: 30
        text: "Bare window"
    }
}
