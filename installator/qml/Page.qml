import QtQuick 2.5
import QtQuick.Layouts 1.0

// Base of every wizard page: a content area above a band of buttons.
Item {
    id: pageRoot

    property string name: ""
    property PageView pageView: null
    property int index: -1
    property alias bottomButtons: buttonRow.children

    // The page's heading; its text names the page for a screen reader.
    property Item titleItem: null
    // What a screen reader says of the page after its title, where the page
    // has no text of its own that a screen reader finds.
    property string spokenText: ""
    // Takes the keyboard focus when the page appears: the last button shown,
    // which leads forward (or closes, on the last pages and where there is no
    // way forward). A hidden button cannot take the focus.
    readonly property Item primaryButton: {
        for (var i = buttonRow.children.length - 1; i >= 0; --i) {
            if (buttonRow.children[i].visible) {
                return buttonRow.children[i];
            }
        }
        return null;
    }

    default property alias content: contentArea.children

    // The keyboard focus goes to the primary button (on a page without
    // buttons to the page itself, so that keys reach no hidden page), and the
    // screen reader's focus with it: entering the page, a screen reader reads
    // the page's title and text, then the button, in the order they are seen.
    function takeFocus() {
        var target = primaryButton ? primaryButton : pageRoot;
        target.forceActiveFocus();
        focusTracker.moveAccessibleFocus(target);
    }

    objectName: name
    anchors.fill: parent

    // A screen reader announces a dialog it enters with its name and its
    // texts, or its description where it has none.
    Accessible.role: Accessible.Dialog
    Accessible.name: titleItem ? titleItem.Accessible.name : ""
    Accessible.description: spokenText

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
