import QtQuick 2.5

// Body text: centred lines at a fixed 24 px pitch.
StyledText {
    // Extra space the welcome page leaves above its body text.
    property real textMargin: 4

    // Centred by position rather than by anchors: pages also place these
    // texts directly in column layouts, which must not see anchors.
    x: parent ? (parent.width - width) / 2 : 0
    font.pixelSize: 15
    lineHeightMode: Text.FixedHeight
    lineHeight: 24
    // A word longer than a line (a file's path, a long word in a translation)
    // breaks where it must rather than run past the text's box.
    wrapMode: Text.WrapAtWordBoundaryOrAnywhere
    horizontalAlignment: Text.AlignHCenter

    Accessible.role: Accessible.StaticText
    Accessible.name: text
}
