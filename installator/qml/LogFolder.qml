import QtQuick 2.5
import QtQuick.Layouts 1.1

// Where this run's log is, for a message to support: a sentence, then the
// folder on a line of its own. Hidden when the run has no log file.
ColumnLayout {
    id: logFolder

    readonly property string folder: installator.logFolder()

    visible: folder !== ""
    spacing: 0

    RegularText {
        objectName: "errorPageLogPlace"
        Layout.fillWidth: true
        text: installator.getText("errorPageLogPlace")
    }

    RegularText {
        objectName: "errorPageLogFolder"
        Layout.fillWidth: true
        text: logFolder.folder
    }
}
