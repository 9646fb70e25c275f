import QtQuick 2.15
import QtTest 1.15

// The device lists: printer rows and their switches, the empty terminal list, busy overlays.
Item {
    id: root

    width: 950
    height: 580

    TestCase {
        id: testCase

        function initTestCase() {
            if (!printClient.started) {
                printClient.licenseAccepted = true;
                tryCompare(printClient, "started", true, 30000);
            }
        }

        function createScreen(url) {
            var component = Qt.createComponent(url);
            compare(component.status, Component.Ready, component.errorString());
            var screen = createTemporaryObject(component, root, {
                "width": 950,
                "height": 580
            });
            verify(screen);
            return screen;
        }

        function testPrinter() {
            var printers = printClient.printers;
            for (var i = 0; i < printers.length; ++i) {
                if (printers[i].name.indexOf("Balcao_") === 0)
                    return printers[i];

            }
            return null;
        }

        function rowOf(screen, printer) {
            for (var i = 0; i < screen.listView.count; ++i) {
                var row = screen.listView.itemAtIndex(i);
                if (row && row.printer === printer)
                    return row;

            }
            return null;
        }

        function test_printer_row_switch_writes_available() {
            tryVerify(function() {
                return testPrinter() !== null;
            }, 15000, "the test queue is listed");
            var printer = testPrinter();
            printer.available = false;
            availableSpy.target = printer;
            availableSpy.clear();
            var screen = createScreen("qrc:/Config.qml");
            var row = rowOf(screen, printer);
            verify(row);
            compare(findChild(row, "deviceName").text, printer.name);
            verify(Qt.colorEqual(findChild(row, "stateBadge").color, "#C8F2E5"));
            compare(row.availableSwitch.checked, false);
            compare(availableSpy.count, 1, "a new row stores the switch's value");
            mouseClick(row.availableSwitch);
            compare(printer.available, true);
            compare(testSupport.storedValue(testSupport.printerKey(printer.name)).toString(), "true");
            printer.available = false;
            compare(row.availableSwitch.checked, false, "the switch follows the printer");
            compare(testSupport.storedValue(testSupport.printerKey(printer.name)).toString(), "false");
            availableSpy.target = null;
        }

        function test_printer_name_copied_only_in_debug_mode() {
            tryVerify(function() {
                return testPrinter() !== null;
            }, 15000);
            var screen = createScreen("qrc:/Config.qml");
            var name = findChild(rowOf(screen, testPrinter()), "deviceName");
            testSupport.clearClipboard();
            printClient.isDebugMode = false;
            mouseClick(name);
            compare(testSupport.clipboardText(), "");
            printClient.isDebugMode = true;
            mouseClick(name);
            compare(testSupport.clipboardText(), testPrinter().name);
            printClient.isDebugMode = false;
        }

        function test_empty_terminal_list() {
            var screen = createScreen("qrc:/Terminals.qml");
            compare(screen.listView.count, 0);
            verify(findChild(screen, "emptyList").visible);
            verify(!findChild(screen, "listHeader").visible, "no column headers over an empty list");
            mouseClick(findChild(screen, "refreshButton"));
            verify(printClient.fetching, "the refresh button asks for the terminals");
            verify(screen.busyShown);
        }

        function test_busy_overlay_follows_fetching() {
            var printers = createScreen("qrc:/Config.qml");
            printClient.fetching = true;
            verify(printers.busyShown);
            printClient.fetching = false;
            verify(!printers.busyShown);
        }

        name: "DeviceLists"
        when: windowShown

        SignalSpy {
            id: availableSpy

            signalName: "availableChanged"
        }

    }

}
