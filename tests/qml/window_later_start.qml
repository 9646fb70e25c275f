import QtQuick 2.15
import QtTest 1.15

// The window on a later start (qml_window runs this file alone): it stays in the tray, of a fixed
// size; closing only hides it while the API answers; the tray switches the service and quits.
TestCase {
    name: "LaterStart"
    when: windowShown
    property var window: Qt.createComponent("qrc:/main.qml").createObject(null)

    SignalSpy { id: quitSpy; target: testSupport; signalName: "quitRequested" }

    function cleanupTestCase() { window.destroy() }

    function test_1_stays_in_the_tray() {
        verify(!window.visible)
        compare([window.minimumWidth, window.maximumWidth, window.minimumHeight, window.maximumHeight],
                [DISPLAY_WIDTH, DISPLAY_WIDTH, DISPLAY_HEIGHT, DISPLAY_HEIGHT])
        tryCompare(printClient, "started", true, 30000)
        printClient.showWindow() // as a second start asks
        tryCompare(window, "visible", true)
        verify(!window.close()) // as from the title bar: refused, the window hidden
        verify(!window.visible && testSupport.apiStatus().indexOf("Device online") >= 0)
    }

    function test_2_tray() {
        var service = findChild(window.trayIcon.menu, "trayService")
        compare(service.text, "Desligar serviço")
        service.triggered()
        compare(service.text, "Ligar serviço")
        compare(testSupport.apiStatus(), "")
        service.triggered()
        verify(testSupport.apiStatus().indexOf("Device online") >= 0)
        findChild(window.trayIcon.menu, "trayQuit").triggered()
        compare(quitSpy.count, 1)
    }
}
