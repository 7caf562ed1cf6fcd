import QtQuick 2.5
import QtQuick.Controls 1.5
import QtQuick.Layouts 1.1

Page {
    id: page

    // Set together, by showing this page by name with properties.
    property int error: 0
    // The empty string stands for the generic text.
    property string errorText: ""
    // What the person can do about this code, when the text copy says: the
    // key of -6 is "errorAdvice-6"; a write the accessory was still busy
    // with when its time ran out has advice of its own.
    readonly property string adviceKey: installator.adviceKey(error)
    readonly property string advice: installator.hasText(adviceKey) ? installator.getText(adviceKey)
                                                                     : ""
    // A write that stopped part way may leave the accessory's firmware
    // incomplete: the accessory refused a block (-8), stopped answering
    // (-12) or did not finish in the time allowed (-17). The engine's text
    // says what happened, not what that leaves.
    readonly property bool writeStopped: error === -8 || error === -12 || error === -17

    // What the page says, for the details a person copies.
    function shownTexts() {
        var texts = [body.text];
        if (writeStopped) {
            texts.push(stateText.text);
        }
        if (advice !== "") {
            texts.push(advice);
        }
        return texts;
    }

    titleItem: title

    // A later failure has details of its own to copy.
    onVisibleChanged: copyDetails.copied = false

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: settings.contentMargin
        anchors.bottomMargin: settings.contentMargin
        anchors.leftMargin: settings.pageSideMargin
        anchors.rightMargin: settings.pageSideMargin
        spacing: 0

        // The gaps above the title give way when the page has much to say.
        Spacer {
            size: 95
            least: 0
        }

        Image {
            objectName: "errorPageShield"
            // A vector image is stretched to its source size unless a fill
            // mode keeps its aspect ratio; under that fill mode Qt decodes it
            // to cover the source size, so the layout sizes the item to it.
            Layout.preferredWidth: sourceSize.width
            Layout.preferredHeight: sourceSize.height
            Layout.alignment: Qt.AlignHCenter
            source: "qrc:/installator/Resources/shield_icon.svg"
            sourceSize: Qt.size(45, 56)
            fillMode: Image.PreserveAspectFit
            Accessible.ignored: true
        }

        Spacer {
            size: 25
            least: 10
        }

        BigText {
            id: title
            objectName: "errorPageTitle"
            Layout.minimumHeight: preferredHeight
            Layout.preferredHeight: preferredHeight
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("errorPageTitle")
        }

        Item {
            Layout.minimumHeight: 15
            Layout.preferredHeight: 15
        }

        Item {
            id: textBlock

            // Fetched once; shown whenever no error text was passed.
            readonly property string unknownErrorText: installator.getText("failedUnknownError")

            Layout.minimumHeight: 30
            Layout.preferredHeight: body.contentHeight
            Layout.preferredWidth: title.contentWidth
            Layout.maximumWidth: title.contentWidth
            Layout.alignment: Qt.AlignHCenter

            RegularText {
                id: body
                objectName: "errorPageText"
                height: parent.height
                width: page.width
                text: (page.errorText !== "" ? page.errorText : textBlock.unknownErrorText) + "\nError "
                      + page.error
            }
        }

        RegularText {
            id: stateText
            objectName: "errorPageWriteStopped"
            Layout.fillWidth: true
            Layout.topMargin: 10
            visible: page.writeStopped
            text: installator.getText("errorPageWriteStopped")
        }

        RegularText {
            objectName: "errorPageAdvice"
            Layout.fillWidth: true
            Layout.topMargin: 10
            visible: text !== ""
            text: page.advice
        }

        // Without a file the log lives on in memory only, for the details.
        LogFolder {
            id: logFolder
            Layout.fillWidth: true
            Layout.topMargin: 10
        }

        Item {
            Layout.fillHeight: true
        }
    }

    bottomButtons: [
        StyledButton {
            objectName: "errorPageExit"
            backgroundImage: ""
            text: installator.getText("errorPageExit")
            onClicked: windowRoot.close()
        },
        StyledButton {
            objectName: "errorPageOpenLogFolder"
            backgroundImage: ""
            visible: logFolder.visible
            text: installator.getText("errorPageOpenLogFolder")
            onClicked: installator.openLogFolder()
        },
        StyledButton {
            id: copyDetails

            property bool copied: false

            objectName: "errorPageCopyDetails"
            backgroundImage: ""
            text: installator.getText(copied ? "errorPageDetailsCopied" : "errorPageCopyDetails")
            Accessible.description: installator.getText("errorPageCopyDetailsDescription")
            onClicked: {
                installator.copyToClipboard(installator.errorDetails(page.error, page.shownTexts()));
                copied = true;
            }
        },
        StyledButton {
            objectName: "errorPageForward"
            text: installator.getText("errorPageForward")
            onClicked: pageView.showPageByName("howTo1Page")
        }
    ]
}
