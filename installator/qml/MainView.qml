import QtQuick 2.5
import QtQuick.Layouts 1.1
import QtQuick.Controls 1.4

Rectangle {
    id: mainViewRoot

    property alias settings: settings
    property alias pageView: pageView

    gradient: Gradient {
        GradientStop {
            position: 0.04
            color: "#222024"
        }
        GradientStop {
            position: 1.0
            color: "#171618"
        }
    }

    // Layout constants read by name from every page and component.
    QtObject {
        id: settings
        objectName: "settings"

        property real contentMargin: 40
        property real pageSideMargin: 165
        property int circularProgressLineWidth: 5
        property int circularProgressSize: 164
        property bool debugMode: false
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.leftMargin: settings.contentMargin
        anchors.rightMargin: settings.contentMargin
        anchors.topMargin: settings.contentMargin
        anchors.bottomMargin: 0
        spacing: 0

        Item {
            id: logoRow
            objectName: "logoRow"
            Layout.fillWidth: true
            Layout.minimumHeight: 14
            Layout.preferredHeight: Layout.minimumHeight

            Image {
                id: makerLogo
                objectName: "makerLogo"
                Accessible.ignored: true
                anchors.left: parent.left
                anchors.verticalCenter: parent.verticalCenter
                source: "qrc:/installator/Resources/oskeld-logo.svg"
            }

            TavrinLogo {
                id: productLogo
                objectName: "productLogo"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
            }
        }

        // Declaration order fixes each page's index (and so what nextPage()
        // shows); the wizard's own flow goes by name.
        PageView {
            id: pageView
            objectName: "pageView"
            Layout.fillWidth: true
            Layout.fillHeight: true
            initialPage: welcomePage

            WelcomePage {
                id: welcomePage
                name: "welcomePage"
            }
            ChangelogPage {
                id: changelogPage
                name: "changelogPage"
            }
            AccessoriesPage {
                id: accessoriesPage
                name: "accessoriesPage"
            }
            HowTo1Page {
                id: howTo1Page
                name: "howTo1Page"
            }
            HowTo2Page {
                id: howTo2Page
                name: "howTo2Page"
            }
            HowTo3Page {
                id: howTo3Page
                name: "howTo3Page"
            }
            ErrorPage {
                id: errorPage
                name: "errorPage"
            }
            ProgressPage {
                id: progressPage
                name: "progressPage"
            }
            SuccessPage {
                id: successPage
                name: "successPage"
            }
        }
    }
}
