import QtQuick 2.5
import QtQuick.Controls 1.5
import QtQuick.Layouts 1.1

Page {
    id: page

    titleItem: title

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: settings.contentMargin
        anchors.bottomMargin: settings.contentMargin
        anchors.leftMargin: settings.pageSideMargin
        anchors.rightMargin: settings.pageSideMargin
        spacing: 0

        BigText {
            id: title
            objectName: "howTo1PageTitle"
            Layout.minimumHeight: preferredHeight
            Layout.preferredHeight: preferredHeight
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("howTo1PageTitle")
        }

        Item {
            Layout.minimumHeight: 30
            Layout.preferredHeight: 30
        }

        CircularProgress {
            objectName: "howTo1PageRing"
            Layout.minimumHeight: settings.circularProgressSize
            Layout.preferredHeight: settings.circularProgressSize
            Layout.alignment: Qt.AlignHCenter
            lineWidth: settings.circularProgressLineWidth
            value: 1.0
            textProgressVisible: false
            // A full ring as decoration, not a progress to read out.
            Accessible.ignored: true

            Image {
                objectName: "howTo1PageIcon"
                anchors.centerIn: parent
                // Qt decodes a vector image under PreserveAspectFit large
                // enough to cover its source size, not to fit in it: sized
                // to the source size, the item keeps the drawing within it.
                width: sourceSize.width
                height: sourceSize.height
                source: "qrc:/installator/Resources/turn_off_icon.svg"
                sourceSize: Qt.size(60, 60)
                fillMode: Image.PreserveAspectFit
                antialiasing: true
                Accessible.ignored: true
            }
        }

        Item {
            Layout.minimumHeight: 50
            Layout.preferredHeight: 50
        }

        RegularText {
            objectName: "howTo1PageContent"
            // Its natural width counts every line break as text, which would
            // push the column off centre; as wide as the column, its centred
            // lines read the same.
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("howTo1PageContent")
        }

        Item {
            Layout.fillHeight: true
        }
    }

    bottomButtons: [
        StyledButton {
            objectName: "howTo1PageBack"
            backgroundImage: ""
            text: installator.getText("howTo1PageBack")
            onClicked: pageView.showPageByName("accessoriesPage")
        },
        StyledButton {
            objectName: "howTo1PageForward"
            text: installator.getText("howTo1PageForward")
            onClicked: pageView.showPageByName("howTo2Page")
        }
    ]
}
