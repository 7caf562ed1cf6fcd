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

    // The size the pages are laid out for, and below it the share of it that
    // the screen's free area holds (1 on any screen where it fits): on a
    // smaller screen the whole content is scaled down uniformly, so that every
    // button stays on the screen.
    readonly property size designSize: Qt.size(918, 616)
    // Room left for the window system's title bar when the content has to be
    // scaled to fit.
    readonly property real frameAllowance: 32
    readonly property real contentScale: {
        var width = Screen.desktopAvailableWidth;
        var height = Screen.desktopAvailableHeight;
        if (width <= 0 || height <= 0) {
            return 1;
        }
        return Math.min(1, width / designSize.width,
                        (height - frameAllowance) / designSize.height);
    }
    readonly property bool keyboardNavigation: focusTracker.keyboardNavigation

    visible: true
    minimumWidth: Math.floor(designSize.width * contentScale)
    minimumHeight: Math.floor(designSize.height * contentScale)
    width: minimumWidth
    height: minimumHeight
    title: installator.getText("applicationTitle")

    // While an upgrade or backup runs, closing would hide the window but not
    // end the transfer, and a person might then unplug the accessory in the
    // middle of a write. The window stays on the progress page instead and
    // closes by itself once the result is in and the device is released.
    onClosing: {
        if (installator.resultPending()) {
            close.accepted = false;
            mainView.pageView.showPageByName("progressPage", {
                                                 "closeWhenDone": true
                                             });
        }
    }

    // Keys reach the wizard from its start, without a click into the window.
    Component.onCompleted: requestActivate()

    // The first page takes the focus before the window shows, and a window
    // that becomes active again does not move it: without this, a screen
    // reader would say only the window's title.
    onActiveChanged: {
        if (active) {
            focusTracker.moveAccessibleFocus(activeFocusItem);
        }
    }

    // Only the faces the pages draw with: each loaded face costs start-up
    // time and memory for as long as the window lives.
    FontLoader {
        id: robotoRegularFace
        source: "qrc:/installator/Resources/Roboto-Regular.ttf"
    }
    FontLoader {
        id: robotoMediumFace
        source: "qrc:/installator/Resources/Roboto-Medium.ttf"
    }
    // The families the components draw in (by these ids): Roboto, unless the
    // language needs a face of its own throughout (Chinese, whose quotation
    // marks Roboto would draw in their Latin shape).
    QtObject {
        id: robotoFont
        readonly property string name: installator.textFamily() !== "" ? installator.textFamily()
                                                                        : robotoRegularFace.name
    }
    QtObject {
        id: robotoMediumFont
        readonly property string name: installator.textFamily() !== "" ? installator.textFamily()
                                                                        : robotoMediumFace.name
    }

    // Created before the view so that the texts and the changelog are read
    // before any page binding asks for them.
    Installator {
        id: installator
        objectName: "installator"
    }

    FocusTracker {
        id: focusTracker
    }

    MainView {
        id: mainView
        objectName: "mainView"
        width: windowRoot.width / windowRoot.contentScale
        height: windowRoot.height / windowRoot.contentScale
        scale: windowRoot.contentScale
        transformOrigin: Item.TopLeft
    }
}
