import QtQuick 2.0

// White text in Roboto's Regular face; the base of every text of the wizard.
Text {
    font.pixelSize: 50
    font.family: robotoFont.name
    color: "#ffffff"
    renderType: Text.QtRendering
}
