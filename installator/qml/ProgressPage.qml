import QtQuick 2.6
import QtQuick.Layouts 1.1
import QtQuick.Controls 1.4

// No buttons: only the upgrade's result leads away from this page.
Page {
    id: page

    // Set when the window was asked to close while the transfer runs: the
    // window closes once a successful result is in. After a failure the
    // request is dropped and the error page shows, so that nobody leaves
    // believing the accessory was updated.
    property bool closeWhenDone: false

    titleItem: title

    onCloseWhenDoneChanged: {
        if (closeWhenDone) {
            focusTracker.moveAccessibleFocus(closingText);
        }
    }

    function progressChanged(progress) {
        console.log("progress", progress + "%");
        // Replaces the ring's binding to the test slider for good.
        ring.value = progress / 100;
    }

    // Completion is shown only here: progress stops short of 100 while the
    // upgrade runs. A failed write leaves the ring where it stopped, so that
    // neither the ring nor a screen reader says it is complete.
    function resultReady(result) {
        console.log("resultReady, status: ", result);
        if (result === 0) {
            ring.value = 1.0;
        }
        // The controller has restarted and released the device already.
        if (closeWhenDone && result === 0) {
            windowRoot.close();
            return;
        }
        closeWhenDone = false;
        if (result === 0) {
            pageView.showPageByName("successPage");
        } else {
            var errorText = installator.getLastError();
            pageView.showPageByName("errorPage", {
                                        "error": result,
                                        "errorText": errorText
                                    });
        }
    }

    Component.onCompleted: {
        focusTracker.exposeProgressValue(ring);
        installator.resultReady.connect(page.resultReady);
        installator.progressChanged.connect(page.progressChanged);
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.topMargin: 40
        anchors.bottomMargin: 40
        anchors.leftMargin: settings.pageSideMargin
        anchors.rightMargin: settings.pageSideMargin
        spacing: 10

        BigText {
            id: title
            objectName: "progressPageTitle"
            Layout.minimumHeight: preferredHeight
            Layout.preferredHeight: preferredHeight
            Layout.alignment: Qt.AlignHCenter
            text: installator.getText("progressPageTitle")
        }

        Item {
            Layout.minimumHeight: 38
            Layout.preferredHeight: 38
        }

        CircularProgress {
            id: ring
            objectName: "progressRing"
            Layout.minimumHeight: 164
            Layout.preferredHeight: 164
            Layout.alignment: Qt.AlignHCenter
            lineWidth: 5
            value: testSlider.value
            Accessible.name: title.text
        }

        Slider {
            id: testSlider
            objectName: "progressTestSlider"
            Layout.preferredWidth: ring.width
            Layout.alignment: Qt.AlignHCenter
            visible: settings.debugMode
            minimumValue: 0
            maximumValue: 1
            value: 0.01
        }

        Item {
            Layout.minimumHeight: 38
            Layout.preferredHeight: 38
        }

        Item {
            Layout.minimumHeight: 30
            Layout.preferredHeight: body.contentHeight
            Layout.preferredWidth: title.contentWidth
            Layout.maximumWidth: title.contentWidth
            Layout.alignment: Qt.AlignHCenter

            RegularText {
                id: body
                objectName: "progressPageContent"
                height: parent.height
                width: page.width
                text: installator.getText("progressPageContent")
            }
        }

        RegularText {
            id: closingText
            objectName: "closingAfterUpdateText"
            Layout.fillWidth: true
            Layout.topMargin: 14
            visible: page.closeWhenDone
            text: installator.getText("closingAfterUpdateText")
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
