import QtQuick 2.5
import QtQuick.Controls 1.5
import QtQuick.Layouts 1.1
import QtQuick.Controls.Styles 1.4

Page {
    id: page

    property real verticalMargin: 70

    titleItem: heading

    // Keys that the focused button leaves alone scroll the changelog.
    Keys.onPressed: {
        var flickable = scrollView.flickableItem;
        var bottom = Math.max(0, flickable.contentHeight - flickable.height);
        var step = 40;
        var target;
        switch (event.key) {
        case Qt.Key_Up:
            target = flickable.contentY - step;
            break;
        case Qt.Key_Down:
            target = flickable.contentY + step;
            break;
        case Qt.Key_PageUp:
            target = flickable.contentY - flickable.height;
            break;
        case Qt.Key_PageDown:
            target = flickable.contentY + flickable.height;
            break;
        case Qt.Key_Home:
            target = 0;
            break;
        case Qt.Key_End:
            target = bottom;
            break;
        default:
            return;
        }
        flickable.contentY = Math.max(0, Math.min(bottom, target));
        event.accepted = true;
    }

    // The page shows no title; this one is for screen readers only and
    // draws nothing.
    Item {
        id: heading
        objectName: "changelogPageTitle"
        Accessible.role: Accessible.Heading
        Accessible.name: installator.getText("changelogPageTitle")
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: page.verticalMargin
        anchors.bottomMargin: page.verticalMargin
        anchors.leftMargin: settings.pageSideMargin
        anchors.rightMargin: settings.pageSideMargin
        spacing: 10

        Rectangle {
            id: box
            Layout.fillWidth: true
            Layout.fillHeight: true
            color: "#222024"
            border.width: 1
            border.color: "#312e34"
            radius: 2.5

            ScrollView {
                id: scrollView
                objectName: "changelogScrollView"
                anchors.fill: parent
                horizontalScrollBarPolicy: Qt.ScrollBarAlwaysOff
                // Dragging selects text instead of scrolling; the wheel and
                // the scroll bar still scroll.
                flickableItem.interactive: false

                style: ScrollViewStyle {
                    handle: Item {
                        implicitWidth: 8
                        implicitHeight: 30

                        Rectangle {
                            anchors.fill: parent
                            anchors.margins: 2
                            radius: 2
                            color: styleData.hovered ? Qt.lighter("#3d3b3f", 1.2) : "#3d3b3f"
                        }
                    }
                    scrollBarBackground: Item {
                        implicitWidth: 8
                        implicitHeight: 30
                    }
                    incrementControl: Item {}
                    decrementControl: Item {}
                }

                Item {
                    id: scrolledContent

                    property real customMargin: 30

                    width: box.width
                    height: changelogText.height + 2 * customMargin

                    TextEdit {
                        id: changelogText
                        objectName: "changelogText"
                        anchors.top: parent.top
                        anchors.left: parent.left
                        anchors.right: parent.right
                        anchors.margins: scrolledContent.customMargin
                        text: installator.changelog
                        textFormat: TextEdit.RichText
                        font.family: robotoFont.name
                        color: "#ffffff"
                        wrapMode: TextEdit.Wrap
                        readOnly: true
                        selectByMouse: true
                        selectByKeyboard: true
                        selectionColor: "#908F91"
                        renderType: Text.QtRendering
                        // Read as plain text, without its markup.
                        Accessible.role: Accessible.StaticText
                        Accessible.name: getText(0, length)
                    }
                }
            }
        }
    }

    bottomButtons: [
        StyledButton {
            objectName: "changelogPageBack"
            backgroundImage: ""
            text: installator.getText("changelogPageBack")
            onClicked: pageView.showPageByName("welcomePage")
        },
        StyledButton {
            objectName: "changelogPageForward"
            text: installator.getText("changelogPageForward")
            onClicked: pageView.showPageByName("accessoriesPage")
        }
    ]
}
