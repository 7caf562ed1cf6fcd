import QtQuick 2.6
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
        spacing: 10

        BigText {
            id: title
            objectName: "successPageTitle"
            Layout.minimumHeight: preferredHeight
            Layout.preferredHeight: preferredHeight
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("successPageTitle")
        }

        Spacer {
            size: 38
            least: 16
        }

        CircularProgress {
            objectName: "successPageRing"
            Layout.minimumHeight: settings.circularProgressSize
            Layout.preferredHeight: settings.circularProgressSize
            Layout.alignment: Qt.AlignHCenter
            lineWidth: settings.circularProgressLineWidth
            value: 1.0
            textProgressVisible: false
            // A full ring as decoration, not a progress to read out.
            Accessible.ignored: true

            Column {
                anchors.centerIn: parent
                spacing: 2

                Image {
                    objectName: "successPageIcon"
                    anchors.horizontalCenter: parent.horizontalCenter
                    // Qt decodes a vector image under PreserveAspectFit large
                    // enough to cover its source size, not to fit in it:
                    // sized to the source size, the item keeps the drawing
                    // within it.
                    width: sourceSize.width
                    height: sourceSize.height
                    source: "qrc:/installator/Resources/tavrin-icon.svg"
                    sourceSize: Qt.size(60, 60)
                    fillMode: Image.PreserveAspectFit
                    antialiasing: true
                    // The product logo below names the product.
                    Accessible.ignored: true
                }

                TavrinLogo {
                    objectName: "successPageProductLogo"
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 110
                }
            }
        }

        Spacer {
            size: 38
            least: 16
        }

        Item {
            Layout.minimumHeight: 30
            Layout.preferredHeight: body.contentHeight
            Layout.preferredWidth: title.contentWidth
            Layout.maximumWidth: title.contentWidth
            Layout.alignment: Qt.AlignHCenter

            RegularText {
                id: body
                objectName: "successPageContent"
                height: parent.height
                width: page.width
                text: installator.getText("successPageContent")
            }
        }

        RegularText {
            readonly property string version: installator.fileVersion()

            objectName: "successPageVersion"
            Layout.fillWidth: true
            visible: version !== ""
            // The version the file states: what the accessory runs now.
            text: version !== "" ? installator.getText("successPageVersion").arg(version) : ""
        }
    }

    bottomButtons: [
        StyledButton {
            objectName: "successPageExit"
            text: installator.getText("successPageExit")
            onClicked: windowRoot.close()
        }
    ]
}
