import QtQuick 2.15
import QtTest 1.15

// The main screen and the device lists against the run's scheduler, which has a usable queue
// "Balcao_<pid>" (its printer never answers) and a stopped one "Parado_<pid>".
Item {
    id: root
    width: 950; height: 580

    SignalSpy { id: testPrintSpy; target: printClient; signalName: "testPrintFinished" }

    TestCase {
        name: "Screens"
        when: windowShown

        function initTestCase() {
            tryVerify(function () { return printer("Balcao_") && printer("Parado_") }, 30000)
        }

        function createScreen(url) {
            var screen = createTemporaryObject(Qt.createComponent(url), root, {"width": 950, "height": 580})
            waitForItemPolished(screen.listView || screen)
            return screen
        }

        function printer(prefix) {
            return Array.prototype.find.call(printClient.printers, function (p) { return p.name.indexOf(prefix) === 0 })
        }

        function rowOf(screen, device) {
            var list = screen.listView
            return Array.from({length: list.count}, (_, i) => list.itemAtIndex(i)).find(row => row.device === device) || null
        }

        function test_service_switch() {
            printClient.serverActive = false
            var screen = createScreen("qrc:/Initial.qml")
            var text = name => findChild(screen, name).text
            compare(text("serviceStatus"), "", "off by choice is no problem")
            mouseClick(screen.serviceSwitch)
            compare(String(testSupport.storedValue("serverActive")), "true")
            compare([text("serviceLabel"), text("serviceStatus")], ["Ativo", "A aceitar pedidos na porta " + printClient.listenPort])
            printClient.serverActive = false // from the tray: the label follows
            compare(text("serviceLabel"), "Desativo")
            mouseClick(screen.serviceSwitch)
            compare(printClient.serverActive, false, "the switch kept its position")
            printClient.serverActive = true
        }

        function test_printer_rows() {
            var usable = printer("Balcao_")
            usable.available = false
            var screen = createScreen("qrc:/Config.qml")
            var row = rowOf(screen, usable)
            compare(findChild(row, "deviceName").text, usable.name)
            mouseClick(row.availableSwitch)
            compare(String(testSupport.printerSetting(usable.name)), "true")
            usable.available = false
            compare(row.availableSwitch.checked, false, "the switch follows the printer")
            printClient.updatePrinters() // the same queues keep their rows
            compare(rowOf(screen, usable), row)
            // The badges, and the print system's most pressing reason beside them.
            compare(findChild(row, "stateBadge").children[0].text, "Ligado")
            compare(findChild(rowOf(screen, printer("Parado_")), "stateBadge").children[0].text, "Desligado")
            var cases = [[[], ""], [["media-low", "media-empty"], "Sem papel"],
                         [["door-open"], "Tampa aberta"], [["connecting-to-device"], ""]]
            for (var i = 0; i < cases.length; ++i) {
                testSupport.setReasons(usable, cases[i][0])
                compare(findChild(row, "stateNote").text, cases[i][1])
            }
        }

        // The preview printer's test print is a picture in its folder; the usable queue's
        // printer never answers, which the test print reports after the job time-out.
        function test_test_prints() {
            var screen = createScreen("qrc:/Config.qml")
            var preview = printClient.previewPrinter
            var row = findChild(screen, "previewPrinterRow")
            preview.available = true
            var pictures = testSupport.pictureCount(preview.folder)
            testPrintSpy.clear()
            mouseClick(findChild(row, "testPrintButton"))
            verify(!findChild(row, "testPrintButton").enabled, "one test print at a time")
            testPrintSpy.wait(20000)
            compare(Array.from(testPrintSpy.signalArguments[0]), ["Printarra Preview", true, ""])
            compare(testSupport.pictureCount(preview.folder), pictures + 1)
            var usable = printer("Balcao_")
            mouseClick(findChild(rowOf(screen, usable), "testPrintButton"))
            testPrintSpy.wait(20000)
            compare(Array.from(testPrintSpy.signalArguments[1]), [usable.name, false, "timeout"])
            verify(!findChild(rowOf(screen, printer("Parado_")), "testPrintButton").enabled)
        }

        function test_terminals() {
            var screen = createScreen("qrc:/Terminals.qml")
            verify(findChild(screen, "emptyList").visible && !findChild(screen, "listHeader").visible)
            var terminal = testSupport.addTerminal()
            tryCompare(screen.listView, "count", 1)
            waitForItemPolished(screen.listView)
            verify(!findChild(screen, "emptyList").visible && findChild(screen, "listHeader").visible)
            var row = rowOf(screen, terminal)
            terminal.available = false
            mouseClick(row.availableSwitch)
            compare(terminal.available, true)
        }
    }
}
