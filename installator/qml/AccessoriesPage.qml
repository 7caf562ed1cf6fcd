import QtQuick 2.6
import QtQuick.Layouts 1.1

Page {
    id: page

    titleItem: title
    // The captions are the page's only text, and a screen reader finds them
    // only as names of the pictures.
    spokenText: [cell1.text, cell2.text, cell3.text].join(", ")

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: settings.contentMargin
        anchors.bottomMargin: settings.contentMargin
        anchors.leftMargin: settings.pageSideMargin
        anchors.rightMargin: settings.pageSideMargin
        spacing: 10

        BigText {
            id: title
            objectName: "accessoriesPageTitle"
            Layout.minimumHeight: preferredHeight
            Layout.preferredHeight: preferredHeight
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("accessoriesPageTitle")
        }

        Item {
            Layout.fillWidth: true
            Layout.minimumHeight: 87
            Layout.preferredHeight: 87
        }

        // The layout reserves only 30 px for the row; the taller cells
        // reach down into the free space below it. The three cells are wider
        // than the column at the opening size: held in a slot of no width of
        // its own, they overhang both sides evenly instead of widening the
        // column, which would push the title and the cells off the window's
        // axis.
        Item {
            Layout.fillWidth: true
            Layout.minimumHeight: 30
            Layout.preferredHeight: 30

            Row {
                objectName: "accessoriesPageCells"
                x: (parent.width - width) / 2
                spacing: 30

                CapturedImage {
                    id: cell1
                    objectName: "accessoriesPageCell1"
                    source: "qrc:/installator/Resources/group-293.png"
                    sourceSize: Qt.size(142, 79)
                    text: installator.getText("accessoriesPageContent1")
                }
                CapturedImage {
                    id: cell2
                    objectName: "accessoriesPageCell2"
                    source: "qrc:/installator/Resources/group-7.svg"
                    sourceSize: Qt.size(165, 33)
                    text: installator.getText("accessoriesPageContent2")
                }
                CapturedImage {
                    id: cell3
                    objectName: "accessoriesPageCell3"
                    source: "qrc:/installator/Resources/group-417.svg"
                    sourceSize: Qt.size(102, 101)
                    text: installator.getText("accessoriesPageContent3")
                }
            }
        }

        Item {
            Layout.fillHeight: true
        }
    }

    bottomButtons: [
        StyledButton {
            objectName: "accessoriesPageBack"
            backgroundImage: ""
            text: installator.getText("accessoriesPageBack")
            onClicked: pageView.showPageByName("changelogPage")
        },
        StyledButton {
            objectName: "accessoriesPageForward"
            text: installator.getText("accessoriesPageForward")
            onClicked: pageView.showPageByName("howTo1Page")
        }
    ]
}
