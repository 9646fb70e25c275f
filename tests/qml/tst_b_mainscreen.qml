import QtQuick 2.15
import QtTest 1.15

// The main screen: the service switch, the copied key and the device cards.
Item {
    id: root
    width: 950
    height: 580

    SignalSpy {
        id: serverSpy
        target: printClient
        signalName: "serverActiveChanged"
    }

    TestCase {
        id: testCase
        name: "MainScreen"
        when: windowShown

        function initTestCase() {
            if (!printClient.started) {
                printClient.licenseAccepted = true
                tryCompare(printClient, "started", true, 30000)
            }
        }

        function createScreen() {
            var component = Qt.createComponent("qrc:/Initial.qml")
            compare(component.status, Component.Ready, component.errorString())
            var screen = createTemporaryObject(component, root, {"width": 950, "height": 580})
            verify(screen)
            return screen
        }

        function test_service_switch_off() {
            printClient.serverActive = false
            serverSpy.clear()
            var screen = createScreen()
            var label = findChild(screen, "serviceLabel")
            compare(screen.serviceSwitch.checked, false)
            compare(serverSpy.count, 0, "a switch already in place writes nothing")
            compare(label.text, "Desativo")
            var status = findChild(screen, "serviceStatus")
            compare(status.text, "", "off by choice is no problem")

            mouseClick(screen.serviceSwitch)
            compare(printClient.serverActive, true)
            compare(String(testSupport.storedValue("serverActive")), "true")
            compare(label.text, "Ativo")
            compare(status.text, "A aceitar pedidos na porta " + printClient.listenPort)
        }

        function test_service_switch_takes_the_value_once() {
            printClient.serverActive = true
            serverSpy.clear()
            var screen = createScreen()
            compare(screen.serviceSwitch.checked, true)
            compare(serverSpy.count, 1, "the switch writes the value it took")

            // Switched off from the tray: the label follows, the switch keeps its position.
            printClient.serverActive = false
            compare(findChild(screen, "serviceLabel").text, "Desativo")
            compare(screen.serviceSwitch.checked, true)
            mouseClick(screen.serviceSwitch)
            compare(printClient.serverActive, false)
            mouseClick(screen.serviceSwitch)
            compare(printClient.serverActive, true)
        }

        function test_copy_feedback_lasts_three_seconds_after_the_last_copy() {
            var screen = createScreen()
            testSupport.clearClipboard()
            verify(!screen.copiedShown)
            mouseClick(findChild(screen, "keyText"))
            compare(testSupport.clipboardText(), printClient.securityKey)
            verify(screen.copiedShown)

            wait(2000)
            testSupport.clearClipboard()
            mouseClick(findChild(screen, "keyCopy"))
            compare(testSupport.clipboardText(), printClient.securityKey)
            wait(1500)
            verify(screen.copiedShown, "the second copy restarted the three seconds")
            tryCompare(screen, "copiedShown", false, 3000)
        }

        function test_terminal_card_by_language() {
            compare(printClient.language, testSupport.expectedLanguage)
            var screen = createScreen()
            verify(findChild(screen, "printerCard").visible)
            compare(screen.terminalCard.visible, printClient.language !== "es")
        }
    }
}
