import QtQuick 2.15
import "../customComponents"

// A print queue: its name (copied on a click in debug mode), whether it is usable, and the
// web application's permission to print on it.
DeviceRow {
    property QtObject printer

    device: printer
    deviceOn: printer ? printer.state : false
    onText: qsTr("Ligado")
    offText: qsTr("Desligado")
    activeText: qsTr("Ativo")
    inactiveText: qsTr("Inativo")
    onNameClicked: {
        if (printClient.isDebugMode && printer && printer.name !== "")
            printClient.clipboard(printer.name)
    }
}
