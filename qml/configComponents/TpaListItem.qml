import QtQuick 2.15
import "../customComponents"

// A payment terminal: its port name and the web application's permission to use it.
DeviceRow {
    property QtObject terminal

    device: terminal
    deviceOn: true
    onText: qsTr("Ligado")
    activeText: qsTr("Ativo")
    inactiveText: qsTr("Inativo")
}
