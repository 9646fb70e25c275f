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
    // The print system's reasons, most pressing first; reasons of a moment (connecting to
    // the device while a job goes out) are not shown.
    note: {
        const reasons = printer ? printer.reasons : []
        const has = (names) => names.some((name) => reasons.indexOf(name) >= 0)
        if (has(["media-empty", "media-needed"]))
            return qsTr("Sem papel")
        if (has(["door-open", "cover-open"]))
            return qsTr("Tampa aberta")
        if (has(["media-jam"]))
            return qsTr("Papel encravado")
        if (has(["offline-report", "offline", "shutdown", "timed-out"]))
            return qsTr("Sem ligação")
        if (has(["media-low"]))
            return qsTr("Pouco papel")
        return ""
    }
    onNameClicked: {
        if (printClient.isDebugMode && printer && printer.name !== "")
            printClient.clipboard(printer.name)
    }
}
