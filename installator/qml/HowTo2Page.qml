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
            objectName: "howTo2PageTitle"
            Layout.minimumHeight: preferredHeight
            Layout.preferredHeight: preferredHeight
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("howTo2PageTitle")
        }

        Item {
            Layout.minimumHeight: 30
            Layout.preferredHeight: 30
        }

        Image {
            objectName: "howTo2PageImage"
            // Illustrates the text below it, which says it all.
            Accessible.ignored: true
            Layout.alignment: Qt.AlignHCenter
            source: "qrc:/installator/Resources/group-5.png"
            sourceSize: Qt.size(509, 182)
        }

        Item {
            Layout.minimumHeight: 50
            Layout.preferredHeight: 50
        }

        RegularText {
            objectName: "howTo2PageContent"
            // Its natural width counts every line break as text, which would
            // push the column off centre; as wide as the column, its centred
            // lines read the same.
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("howTo2PageContent")
        }

        Item {
            Layout.fillHeight: true
        }
    }

    bottomButtons: [
        StyledButton {
            objectName: "howTo2PageBack"
            backgroundImage: ""
            text: installator.getText("howTo2PageBack")
            onClicked: pageView.showPageByName("howTo1Page")
        },
        StyledButton {
            objectName: "howTo2PageForward"
            text: installator.getText("howTo2PageForward")
            onClicked: pageView.showPageByName("howTo3Page")
        }
    ]
}
