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

    // One line whatever the path's length: a deep folder wrapped to two and
    // pushed the page into its button band. The middle goes, the start and
    // the folder's own name stay; "Copy details", the screen reader and
    // "Open log folder" still have the whole path.
    RegularText {
        objectName: "errorPageLogFolder"
        Layout.fillWidth: true
        wrapMode: Text.NoWrap
        elide: Text.ElideMiddle
        text: logFolder.folder
    }
}
