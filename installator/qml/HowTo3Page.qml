import QtQuick 2.5
import QtQuick.Controls 1.5
import QtQuick.Layouts 1.1

Page {
    id: page

    titleItem: title

    ColumnLayout {
        id: column

        // What the picture may take: all that the texts and the least gaps
        // leave, up to its own size. It gives way to the accessory's notes
        // only after the gaps have.
        readonly property real pictureRoom: height - title.preferredHeight - content.implicitHeight
                                            - accessory.implicitHeight - topGap.least
                                            - middleGap.least - noteGap.least

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

        Spacer {
            id: topGap
            size: 30
            least: 12
        }

        Image {
            objectName: "howTo3PageImage"
            // Illustrates the text below it, which says it all.
            Accessible.ignored: true
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: sourceSize.width
            Layout.fillHeight: true
            Layout.preferredHeight: sourceSize.height
            Layout.maximumHeight: sourceSize.height
            Layout.minimumHeight: Math.max(0, Math.min(sourceSize.height, column.pictureRoom))
            source: "qrc:/installator/Resources/group-417.png"
            sourceSize: Qt.size(197, 167)
            fillMode: Image.PreserveAspectFit
        }

        Spacer {
            id: middleGap
            size: 50
            least: 16
        }

        RegularText {
            id: content
            objectName: "howTo3PageContent"
            // Its natural width counts every line break as text, which would
            // push the column off centre; as wide as the column, its centred
            // lines read the same.
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("howTo3PageContent")
        }

        Spacer {
            id: noteGap
            size: 12
            least: 8
        }

        AccessoryStatus {
            id: accessory
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
