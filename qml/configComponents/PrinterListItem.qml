import QtQuick 2.15
import QtQuick.Controls 2.15
import "../customComponents"

// A print queue: its name (copied on a click in debug mode), whether it is usable, the web
// application's permission to print on it, and a test print.
DeviceRow {
    id: item

    property QtObject printer
    // A test print of this row is on its way; the controller says when it is done.
    property bool testPrinting: false

    device: printer
    nameReserve: testPrintButton.width + 8
    deviceOn: printer ? printer.state : false
    onText: qsTr("Ligado")
    offText: qsTr("Desligado")
    activeText: qsTr("Ativo")
    inactiveText: qsTr("Inativo")
    // The print system's reasons, most pressing first; reasons of a moment (connecting to
    // the device while a job goes out) are not shown.
    note: {
        const reasons = printer && printer.reasons ? printer.reasons : []
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

    // Before the state badge: the columns on the right are the switch's.
    Button {
        id: testPrintButton
        objectName: "testPrintButton"
        x: parent.width * 0.52 - width - 12
        anchors.verticalCenter: parent.verticalCenter
        flat: true
        font.pixelSize: 12
        text: item.testPrinting ? qsTr("A imprimir…") : qsTr("Imprimir teste")
        enabled: item.deviceOn && !item.testPrinting
        onClicked: {
            item.testPrinting = true
            printClient.testPrint(item.printer.name)
        }
    }

    Connections {
        target: printClient
        function onTestPrintFinished(name, printed, reason) {
            if (item.printer && name === item.printer.name)
                item.testPrinting = false
        }
    }
}
