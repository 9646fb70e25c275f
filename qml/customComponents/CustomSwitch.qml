import QtQuick 2.15
import QtQuick.Controls 2.15
import "../appSettings"

// A compact on/off switch in the connector's green and grey.
Switch {
    id: control

    implicitWidth: 44
    implicitHeight: 24
    padding: 0
    focusPolicy: Qt.NoFocus

    indicator: Rectangle {
        x: control.leftPadding
        anchors.verticalCenter: parent.verticalCenter
        width: 40
        height: 22
        radius: height / 2
        color: control.checked ? GlobalSettings.switchOn : GlobalSettings.switchOff

        Behavior on color {
            ColorAnimation {
                duration: 120
            }
        }

        Rectangle {
            x: control.checked ? parent.width - width - 3 : 3
            anchors.verticalCenter: parent.verticalCenter
            width: 16
            height: 16
            radius: 8
            color: "white"

            Behavior on x {
                NumberAnimation {
                    duration: 120
                }
            }
        }
    }

    contentItem: Item {}
}
