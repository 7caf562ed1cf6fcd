import QtQuick 2.6
import QtQuick.Window 2.2
import QtQuick.Layouts 1.1
import QtQuick.Controls 1.5
import QtQuick.Controls.Styles 1.2
import QtGraphicalEffects 1.0

Window {
    visible: true
    width: 918
    height: 616
    color: "#222024"
}
