import QtQuick 2.5

// A page title: one line, exactly as wide as its text.
StyledText {
    // The layout height that pages reserve for a title.
    property real preferredHeight: 59

    // Centred by position rather than by anchors: pages also place these
    // texts directly in column layouts, which must not see anchors.
    x: parent ? (parent.width - width) / 2 : 0
    width: contentWidth
    font.pixelSize: 30

    Accessible.role: Accessible.Heading
    Accessible.name: text
}
