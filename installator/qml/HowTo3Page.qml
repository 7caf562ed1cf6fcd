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
            objectName: "howTo3PageTitle"
            Layout.minimumHeight: preferredHeight
            Layout.preferredHeight: preferredHeight
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("howTo3PageTitle")
        }

        Item {
            Layout.minimumHeight: 30
            Layout.preferredHeight: 30
        }

        Image {
            objectName: "howTo3PageImage"
            // Illustrates the text below it, which says it all.
            Accessible.ignored: true
            Layout.alignment: Qt.AlignHCenter
            source: "qrc:/installator/Resources/group-417.png"
            sourceSize: Qt.size(197, 167)
        }

        Item {
            Layout.minimumHeight: 50
            Layout.preferredHeight: 50
        }

        RegularText {
            objectName: "howTo3PageContent"
            // Its natural width counts every line break as text, which would
            // push the column off centre; as wide as the column, its centred
            // lines read the same.
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("howTo3PageContent")
        }

        Item {
            Layout.minimumHeight: 12
            Layout.preferredHeight: 12
        }

        AccessoryStatus {
            objectName: "howTo3PageAccessory"
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignHCenter
        }

        Item {
            Layout.fillHeight: true
        }
    }

    bottomButtons: [
        StyledButton {
            objectName: "howTo3PageBack"
            backgroundImage: ""
            text: installator.getText("howTo3PageBack")
            onClicked: pageView.showPageByName("howTo2Page")
        },
        StyledButton {
            objectName: "howTo3PageForward"
            text: installator.getText("howTo3PageForward")
            // Moves on to the progress page only when the device answered;
            // the upgrade's outcome arrives later through resultReady. A
            // failed connection shows the text copy's explanation, while the
            // engine's own message goes to the log only.
            onClicked: {
                var status = installator.connect();
                if (status === 0) {
                    pageView.showPageByName("progressPage");
                    installator.upgrade();
                } else {
                    var properties = {
                        "error": status,
                        "errorText": installator.getText("failedConnectionText")
                    };
                    console.warn("errorMessage", installator.getLastError());
                    pageView.showPageByName("errorPage", properties);
                }
            }
        }
    ]
}
