import QtQuick 2.6
import QtQuick.Layouts 1.1
import QtQuick.Window 2.2

Page {
    id: page

    titleItem: title

    // The gaps shrink before a long text (a file's problem, a translation)
    // runs under the buttons; with room to spare the page is as designed.
    ColumnLayout {
        anchors.fill: parent
        anchors.bottomMargin: settings.contentMargin
        anchors.leftMargin: settings.pageSideMargin
        anchors.rightMargin: settings.pageSideMargin
        spacing: 0

        Spacer {
            size: 92
            least: 16
        }

        Image {
            objectName: "welcomePageIcon"
            Layout.minimumWidth: 60
            Layout.preferredWidth: 60
            Layout.minimumHeight: 60
            Layout.preferredHeight: 60
            Layout.alignment: Qt.AlignHCenter
            // Reduced to this size at build time: mipmaps made at run time
            // held up the first frame.
            source: "qrc:/installator/Resources/firmware_icon.png"
            // Smoothed edges wherever an edge can fall between two pixels:
            // the window scaled to fit a small screen, a fractional display
            // scale, a layout placing the icon off the pixel grid. On the
            // grid they draw the very same pixels, and on a software OpenGL
            // stack the first frame would pay ~6 ms to compile their shader.
            antialiasing: windowRoot.contentScale !== 1 || Screen.devicePixelRatio % 1 !== 0
                          || x % 1 !== 0 || y % 1 !== 0
            smooth: true
            Accessible.ignored: true
        }

        Spacer {
            size: 28
            least: 12
        }

        BigText {
            id: title
            objectName: "welcomePageTitle"
            Layout.minimumHeight: preferredHeight
            Layout.preferredHeight: preferredHeight
            Layout.alignment: Qt.AlignHCenter
            // A page that cannot lead to an update does not promise one.
            text: installator.getText(problem.visible ? "welcomePageBlockedTitle"
                                                      : "welcomePageTitle")
        }

        Item {
            Layout.minimumHeight: 12 + body.textMargin
            Layout.preferredHeight: 12 + body.textMargin
        }

        Item {
            Layout.minimumHeight: 30
            Layout.preferredHeight: body.contentHeight
            Layout.preferredWidth: title.contentWidth
            Layout.maximumWidth: title.contentWidth
            Layout.alignment: Qt.AlignHCenter

            RegularText {
                id: body
                objectName: "welcomePageContent"
                height: parent.height
                width: page.width - 2 * settings.pageSideMargin
                // The way through the pages only while there is one.
                text: installator.getText(problem.visible ? "welcomePageBlockedContent"
                                                          : "welcomePageContent")
            }
        }

        Spacer {
            visible: problem.visible
            size: 24
            least: 8
        }

        FirmwareProblem {
            id: problem
            objectName: "welcomePageFirmwareProblem"
            Layout.fillWidth: true
        }

        Item {
            Layout.fillHeight: true
        }
    }

    bottomButtons: [
        StyledButton {
            objectName: "welcomePageForward"
            // No way forward with a firmware file that no try can install.
            visible: !problem.visible
            text: installator.getText("welcomePageForward")
            onClicked: pageView.showPageByName("changelogPage")
        },
        StyledButton {
            objectName: "welcomePageClose"
            visible: problem.visible
            text: installator.getText("welcomePageClose")
            onClicked: windowRoot.close()
        }
    ]
}
