import QtQuick 2.15
import QtTest 1.15

// The first start, screen by screen: terms, splash, main screen, and the update notice that
// follows the controller only until the user has navigated once.
TestCase {
    id: testCase
    name: "StateMachine"
    when: windowShown

    property var window: null

    function chromeShown() {
        var header = findChild(window, "header")
        var footer = findChild(window, "footer")
        compare(header.visible, footer.visible)
        return header.visible
    }

    function cleanupTestCase() {
        if (window)
            window.destroy()
    }

    function test_1_first_start() {
        compare(printClient.licenseAccepted, false)
        compare(printClient.started, false)
        // An update known before the terms are accepted changes nothing yet.
        printClient.hasUpdate = true
        var component = Qt.createComponent("qrc:/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        window = component.createObject(null)
        verify(window.visible, "the first start opens the window")
        compare(window.screenState, "showLicense")
        verify(!chromeShown(), "no header and footer over the terms")
        printClient.hasUpdate = false

        mouseClick(findChild(window.screenItem, "acceptButton"))
        compare(printClient.licenseAccepted, true)
        compare(String(testSupport.storedValue("licenseAccepted")), "true")
        tryCompare(printClient, "started", true, 30000)
        compare(window.screenState, "allSet")
        verify(chromeShown())
        compare(window.screenItem.objectName, "initial")
    }

    function test_2_update_before_navigation() {
        // Accepted but not started yet: the splash with its busy indicator.
        printClient.started = false
        compare(window.screenState, "loading")
        verify(!chromeShown())
        verify(findChild(window.screenItem, "splashBusy").visible)
        verify(!findChild(window.screenItem, "updateBox").visible)
        printClient.started = true
        compare(window.screenState, "allSet")

        printClient.hasUpdate = true
        compare(window.screenState, "loading")
        verify(findChild(window.screenItem, "updateBox").visible)
        verify(!findChild(window.screenItem, "splashBusy").visible)
        printClient.hasUpdate = false
        compare(window.screenState, "allSet")

        printClient.hasUpdate = true
        mouseClick(findChild(window.screenItem, "laterButton"))
        compare(window.screenState, "allSet")
    }

    function test_3_update_after_navigation() {
        printClient.hasUpdate = false
        printClient.hasUpdate = true
        compare(window.screenState, "allSet", "once navigated, only navigation changes the screen")
        printClient.hasUpdate = false
    }

    function test_4_navigation() {
        mouseClick(findChild(window.screenItem, "printerCard"))
        compare(window.screenState, "config")
        verify(chromeShown())
        mouseClick(findChild(window.screenItem, "backButton"))
        compare(window.screenState, "allSet")
        if (printClient.language !== "es") {
            mouseClick(findChild(window.screenItem, "terminalCard"))
            compare(window.screenState, "terminals")
        }
        mouseClick(findChild(window, "footerHome"))
        compare(window.screenState, "allSet")
    }

    function test_5_close_hides() {
        verify(window.visible)
        window.close()
        compare(window.visible, false, "closing only hides the window")
        printClient.showWindow()
        compare(window.visible, true)
        compare(window.screenState, "allSet")

        // The tray's "Abrir" brings it back as well.
        window.close()
        compare(window.visible, false)
        var open = window.trayIcon.menu.items[0]
        compare(open.text, "Abrir")
        open.triggered()
        compare(window.visible, true)
    }

    function test_6_tray_follows_the_service() {
        var service = window.trayIcon.menu.items[1]
        printClient.serverActive = true
        verify(String(window.trayIcon.icon.source).endsWith("imgs/ic_systray_on.png"))
        compare(service.text, "Desligar serviço")
        service.triggered()
        compare(printClient.serverActive, false)
        verify(String(window.trayIcon.icon.source).endsWith("imgs/ic_systray_off.png"))
        compare(service.text, "Ligar serviço")
        service.triggered()
        compare(printClient.serverActive, true)
    }
}
