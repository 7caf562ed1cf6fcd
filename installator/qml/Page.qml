import QtQuick 2.5
import QtQuick.Layouts 1.0

// Base of every wizard page: a content area above a band of buttons.
Item {
    id: pageRoot

    property string name: ""
    property PageView pageView: null
    property int index: -1
    property alias bottomButtons: buttonRow.children

    // The page's heading, where a screen reader's focus goes when the page
    // appears.
    property Item titleItem: null
    // Takes the keyboard focus when the page appears: the last button, which
    // leads forward (or closes, on the last pages).
    readonly property Item primaryButton: buttonRow.children.length > 0
                                          ? buttonRow.children[buttonRow.children.length - 1] : null

    default property alias content: contentArea.children

    // The keyboard focus goes to the primary button (on a page without
    // buttons to the page itself, so that keys reach no hidden page), the
    // screen reader's focus to the title.
    function takeFocus() {
        if (primaryButton) {
            primaryButton.forceActiveFocus();
        } else {
            pageRoot.forceActiveFocus();
        }
        focusTracker.moveAccessibleFocus(titleItem);
    }

    objectName: name
    anchors.fill: parent

    onVisibleChanged: {
        if (visible) {
            console.debug("Page", name, "is active.");
            takeFocus();
        }
    }

    ColumnLayout {
        anchors.fill: parent

        Item {
            id: contentArea
            Layout.fillWidth: true
            Layout.fillHeight: true
        }

        // Overhangs the page by the outer margin on both sides so that the
        // band runs from one window edge to the other.
        Item {
            id: buttonBand
            objectName: "buttonBand"
            Layout.fillWidth: true
            Layout.leftMargin: -settings.contentMargin
            Layout.rightMargin: -settings.contentMargin
            Layout.minimumHeight: 77
            Layout.preferredHeight: Layout.minimumHeight
            visible: buttonRow.children.length > 0

            Rectangle {
                anchors.fill: parent
                color: "#000000"
                opacity: 0.1
            }

            Row {
                id: buttonRow
                anchors.centerIn: parent
                spacing: 14
            }
        }
    }
}
