import QtQuick 2.5

// Whether an accessory is attached, and which firmware it runs against the
// one this program brings, kept current while shown: the controller looks
// for the accessory about once a second while this item is visible and
// opens nothing until Install.
RegularText {
    id: status

    property int attached: -1
    property string installedVersion: ""
    readonly property string fileVersion: installator.fileVersion()
    readonly property int order: installator.compareVersions(installedVersion, fileVersion)

    function versionText(version) {
        return version !== "" ? version : installator.getText("readyVersionUnknown");
    }

    text: {
        if (attached < 0)
            return "";
        if (attached === 0)
            return installator.getText("readyAccessoryMissing");
        var lines = [installator.getText("readyAccessoryAttached"),
                     installator.getText("readyFirmwareVersions").arg(versionText(installedVersion))
                                                                 .arg(versionText(fileVersion))];
        if (order === 0)
            lines.push(installator.getText("readySameVersion"));
        else if (order < 0)
            lines.push(installator.getText("readyOlderVersion"));
        return lines.join("\n");
    }

    function accessoryChanged(attached, installedVersion) {
        status.attached = attached;
        status.installedVersion = installedVersion;
    }

    onVisibleChanged: installator.watchAccessory(visible)
    Component.onCompleted: installator.accessoryChanged.connect(status.accessoryChanged)
    Component.onDestruction: installator.watchAccessory(false)
}
