import QtQuick 2.5
import QtQuick.Window 2.2
import QtQuick.Layouts 1.1
import installator 1.0

Window {
    id: windowRoot
    visible: true
    minimumWidth: 918
    minimumHeight: 616
    width: minimumWidth
    height: minimumHeight
    title: installator.getText("applicationTitle")

    Installator {
        id: installator
    }
}
