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
                // Its natural size: with a source size Qt renders vector art
                // at the display's scale, without one it enlarges a 100 %
                // bitmap.
                sourceSize: Qt.size(113, 15)
            }

            TavrinLogo {
                id: productLogo
                objectName: "productLogo"
                anchors.right: parent.right
                anchors.verticalCenter: parent.verticalCenter
            }
        }

        // Declaration order fixes each page's index (and so what nextPage()
        // shows); the wizard's own flow goes by name. Each page is built
        // when it is first shown, and named by its file so that its type and
        // what it imports (scroll view, graphical effects) are loaded then
        // too, not at start.
        PageView {
            id: pageView
            objectName: "pageView"
            Layout.fillWidth: true
            Layout.fillHeight: true
            initialPage: "welcomePage"

            LazyPage {
                name: "welcomePage"
                source: "WelcomePage.qml"
            }
            LazyPage {
                name: "changelogPage"
                source: "ChangelogPage.qml"
            }
            LazyPage {
                name: "accessoriesPage"
                source: "AccessoriesPage.qml"
            }
            LazyPage {
                name: "howTo1Page"
                source: "HowTo1Page.qml"
            }
            LazyPage {
                name: "howTo2Page"
                source: "HowTo2Page.qml"
            }
            LazyPage {
                name: "howTo3Page"
                source: "HowTo3Page.qml"
            }
            LazyPage {
                name: "errorPage"
                source: "ErrorPage.qml"
            }
            LazyPage {
                name: "progressPage"
                source: "ProgressPage.qml"
            }
            LazyPage {
                name: "successPage"
                source: "SuccessPage.qml"
            }
        }
    }
}
