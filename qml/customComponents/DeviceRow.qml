import QtQuick 2.15
import "../appSettings"

// One row of a device list: the name, a state badge, and the switch that says whether the web
// application may use the device. The switch and the device's "available" follow each other;
// the row writes the switch's value once when it is created, so the choice is always stored.
Item {
    id: row

    property QtObject device
    property bool deviceOn: true
    property string onText
    property string offText
    property string activeText
    property string inactiveText
    // What the device reports beyond on or off (say, out of paper), beside the badge.
    property string note
    // Room kept free at the end of the name's column, for a button of the row.
    property real nameReserve: 0
    readonly property alias availableSwitch: availableSwitch

    signal nameClicked

    height: 48

    CommonLabelRegular {
        objectName: "deviceName"
        anchors.left: parent.left
        anchors.leftMargin: 20
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width * 0.52 - 32 - row.nameReserve
        elide: Text.ElideRight
        color: GlobalSettings.titleColor
        text: row.device ? row.device.name : ""

        MouseArea {
            anchors.fill: parent
            onClicked: row.nameClicked()
        }
    }

    Rectangle {
        id: stateBadge
        objectName: "stateBadge"
        x: parent.width * 0.52
        anchors.verticalCenter: parent.verticalCenter
        width: badgeText.implicitWidth + 24
        height: 24
        radius: 12
        color: row.deviceOn ? GlobalSettings.onBadge : GlobalSettings.offBadge

        CommonLabelMedium {
            id: badgeText
            anchors.centerIn: parent
            font.pixelSize: 12
            color: row.deviceOn ? GlobalSettings.onBadgeText : GlobalSettings.offBadgeText
            text: row.deviceOn ? row.onText : row.offText
        }
    }

    CommonLabelRegular {
        objectName: "stateNote"
        anchors.left: stateBadge.right
        anchors.leftMargin: 8
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width * 0.74 - x - 8
        elide: Text.ElideRight
        font.pixelSize: 12
        color: GlobalSettings.offBadgeText
        text: row.note
        visible: text !== ""
    }

    Row {
        x: parent.width * 0.74
        anchors.verticalCenter: parent.verticalCenter
        spacing: 12

        CustomSwitch {
            id: availableSwitch
            anchors.verticalCenter: parent.verticalCenter
            checked: row.device ? row.device.available : false
            // Only real changes: the device announces every write, and writing back the value
            // the binding just took would loop.
            onCheckedChanged: {
                if (row.device && row.device.available !== checked)
                    row.device.available = checked
            }
            Component.onCompleted: {
                if (row.device)
                    row.device.available = checked
            }
        }
        CommonLabelRegular {
            anchors.verticalCenter: parent.verticalCenter
            color: GlobalSettings.listText
            text: availableSwitch.checked ? row.activeText : row.inactiveText
        }
    }

    Rectangle {
        anchors.bottom: parent.bottom
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.leftMargin: 20
        anchors.rightMargin: 20
        height: 1
        color: GlobalSettings.greyBackground
    }
}
