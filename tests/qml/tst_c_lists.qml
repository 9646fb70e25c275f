import QtQuick 2.15
import QtTest 1.15

// The device lists: printer and terminal rows, their badges and switches, the empty terminal
// list and the busy overlays. The run's scheduler has a usable queue "Balcao_<pid>" and a
// stopped one "Parado_<pid>".
Item {
    id: root
    width: 950
    height: 580

    SignalSpy {
        id: availableSpy
        signalName: "availableChanged"
    }
    // Every printer refresh (each 3 s) announces the list, changed or not.
    SignalSpy {
        id: testPrintSpy
        target: printClient
        signalName: "testPrintFinished"
    }
    SignalSpy {
        id: refreshSpy
        target: printClient
        signalName: "printersChanged"
    }

    TestCase {
        id: testCase
        name: "DeviceLists"
        when: windowShown

        function initTestCase() {
            if (!printClient.started) {
                printClient.licenseAccepted = true
                tryCompare(printClient, "started", true, 30000)
            }
            tryVerify(function () { return printer("Balcao_") && printer("Parado_") }, 15000,
                      "the test queues are listed")
        }

        function cleanup() {
            availableSpy.target = null
            printClient.fetching = false
        }

        function createScreen(url) {
            var component = Qt.createComponent(url)
            compare(component.status, Component.Ready, component.errorString())
            var screen = createTemporaryObject(component, root, {"width": 950, "height": 580})
            verify(screen)
            waitForItemPolished(screen.listView)
            return screen
        }

        function printer(prefix) {
            var printers = printClient.printers
            for (var i = 0; i < printers.length; ++i) {
                if (printers[i].name.indexOf(prefix) === 0)
                    return printers[i]
            }
            return null
        }

        function rowOf(screen, device) {
            for (var i = 0; i < screen.listView.count; ++i) {
                var row = screen.listView.itemAtIndex(i)
                if (row && row.device === device)
                    return row
            }
            return null
        }

        function test_printer_row_switch_writes_available_data() {
            return [{tag: "off", available: false}, {tag: "on", available: true}]
        }
        function test_printer_row_switch_writes_available(data) {
            var usable = printer("Balcao_")
            usable.available = data.available
            availableSpy.target = usable
            availableSpy.clear()
            refreshSpy.clear()

            var screen = createScreen("qrc:/Config.qml")
            var row = rowOf(screen, usable)
            verify(row)
            compare(findChild(row, "deviceName").text, usable.name)
            compare(row.availableSwitch.checked, data.available)
            compare(availableSpy.count, 1, "a new row stores the switch's value once")
            var key = testSupport.printerKey(usable.name)
            compare(String(testSupport.storedValue(key)), String(data.available))

            mouseClick(row.availableSwitch)
            compare(usable.available, !data.available)
            compare(String(testSupport.storedValue(key)), String(!data.available))
            compare(availableSpy.count, 2)
            usable.available = data.available
            compare(row.availableSwitch.checked, data.available, "the switch follows the printer")

            // A refresh with the same queues keeps the rows: nothing is made or written again.
            refreshSpy.clear()
            printClient.updatePrinters()
            compare(refreshSpy.count, 1)
            compare(rowOf(screen, usable), row)
            compare(availableSpy.count, 3)
        }

        function test_printer_badges() {
            var screen = createScreen("qrc:/Config.qml")
            var on = findChild(rowOf(screen, printer("Balcao_")), "stateBadge")
            var off = findChild(rowOf(screen, printer("Parado_")), "stateBadge")
            verify(Qt.colorEqual(on.color, "#C8F2E5"))
            compare(on.children[0].text, "Ligado")
            verify(Qt.colorEqual(on.children[0].color, "#0D513C"))
            verify(Qt.colorEqual(off.color, "#FFD9D9"))
            compare(off.children[0].text, "Desligado")
            verify(Qt.colorEqual(off.children[0].color, "#662A2A"))

            // The print system's reasons beside the badge, the most pressing one.
            var note = findChild(rowOf(screen, printer("Balcao_")), "stateNote")
            var cases = [[[], ""], [["media-low", "media-empty"], "Sem papel"],
                         [["door-open"], "Tampa aberta"], [["offline-report"], "Sem ligação"],
                         [["connecting-to-device"], ""]]
            for (var i = 0; i < cases.length; ++i) {
                testSupport.setReasons(printer("Balcao_"), cases[i][0])
                compare(note.text, cases[i][1])
                compare(note.visible, cases[i][1] !== "")
            }
        }

        function test_printer_name_copied_only_in_debug_mode() {
            var screen = createScreen("qrc:/Config.qml")
            var name = findChild(rowOf(screen, printer("Balcao_")), "deviceName")
            testSupport.clearClipboard()
            printClient.isDebugMode = false
            mouseClick(name)
            compare(testSupport.clipboardText(), "")
            printClient.isDebugMode = true
            mouseClick(name)
            compare(testSupport.clipboardText(), printer("Balcao_").name)
            printClient.isDebugMode = false
        }

        // The preview printer's row under the queues: its switch, its folder, its test print
        // (a picture in that folder); a queue's test print reaches the print system.
        function test_preview_printer_and_test_prints() {
            var screen = createScreen("qrc:/Config.qml")
            var preview = printClient.previewPrinter
            preview.available = false
            var row = findChild(screen, "previewPrinterRow")
            verify(row)
            compare(findChild(row, "deviceName").text, "Printarra Preview")
            mouseClick(row.availableSwitch)
            compare(preview.available, true)
            compare(String(testSupport.storedValue("previewPrinter")), "true")
            verify(findChild(screen, "previewFolder").text.indexOf(preview.folder) > 0)

            testPrintSpy.clear()
            var pictures = testSupport.pictureCount(preview.folder)
            var button = findChild(row, "testPrintButton")
            mouseClick(button)
            verify(!button.enabled, "one test print at a time")
            testPrintSpy.wait(20000)
            compare(Array.from(testPrintSpy.signalArguments[0]), ["Printarra Preview", true, ""])
            compare(testSupport.pictureCount(preview.folder), pictures + 1)
            tryVerify(function () { return button.enabled })
            preview.available = false

            // The usable queue's printer never answers: the test print says so, after the bound.
            var usable = printer("Balcao_")
            mouseClick(findChild(rowOf(screen, usable), "testPrintButton"))
            testPrintSpy.wait(20000)
            compare(Array.from(testPrintSpy.signalArguments[1]), [usable.name, false, "timeout"])
            verify(!findChild(rowOf(screen, printer("Parado_")), "testPrintButton").enabled,
                   "no test print on a stopped queue")
        }

        function test_printer_overlay_lets_clicks_through() {
            var screen = createScreen("qrc:/Config.qml")
            var usable = printer("Balcao_")
            usable.available = false
            printClient.fetching = true
            verify(screen.busyShown)
            mouseClick(rowOf(screen, usable).availableSwitch)
            compare(usable.available, true)
        }

        function test_terminals_empty_then_listed() {
            var screen = createScreen("qrc:/Terminals.qml")
            compare(screen.listView.count, 0)
            verify(findChild(screen, "emptyList").visible)
            verify(!findChild(screen, "listHeader").visible, "no column headers over an empty list")
            mouseClick(findChild(screen, "refreshButton"))
            verify(printClient.fetching, "the refresh button asks for the terminals")
            verify(screen.busyShown)
            printClient.fetching = false

            var terminal = testSupport.addTerminal()
            verify(terminal)
            tryCompare(screen.listView, "count", 1)
            waitForItemPolished(screen.listView)
            verify(findChild(screen, "listHeader").visible)
            verify(!findChild(screen, "emptyList").visible)
            var row = rowOf(screen, terminal)
            verify(row)
            compare(findChild(row, "stateBadge").children[0].text, "Ligado")

            terminal.available = false
            mouseClick(row.availableSwitch)
            compare(terminal.available, true)
            // While fetching, the overlay swallows clicks on the terminal rows.
            printClient.fetching = true
            mouseClick(row.availableSwitch)
            compare(terminal.available, true)
            compare(row.availableSwitch.checked, true)
        }
    }
}
