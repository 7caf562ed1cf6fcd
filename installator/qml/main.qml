import QtQuick 2.5
import QtQuick.Window 2.2
import QtQuick.Layouts 1.1
import installator 1.0

// The wizard's only window. Pages and components reach `installator`,
// `windowRoot`, `settings`, `robotoFont` and `robotoMediumFont` through the
// scope chain, so those ids are part of the scene's contract.
Window {
    id: windowRoot
    objectName: "windowRoot"

    property alias settings: mainView.settings

    visible: true
    minimumWidth: 918
    minimumHeight: 616
    width: minimumWidth
    height: minimumHeight
    title: installator.getText("applicationTitle")

    // Only the faces the pages draw with: each loaded face costs start-up
    // time and memory for as long as the window lives.
    FontLoader {
        id: robotoFont
        source: "qrc:/installator/Resources/Roboto-Regular.ttf"
    }
    FontLoader {
        id: robotoMediumFont
        source: "qrc:/installator/Resources/Roboto-Medium.ttf"
    }

    // Created before the view so that the texts and the changelog are read
    // before any page binding asks for them.
    Installator {
        id: installator
        objectName: "installator"
    }

    MainView {
        id: mainView
        objectName: "mainView"
        anchors.fill: parent
    }
}
