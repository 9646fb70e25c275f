import QtQuick 2.15
import QtTest 1.15

// The first start, screen by screen: terms, splash, main screen, and the update notice that
// follows the controller only until the user has navigated once.
TestCase {
    id: testCase
    name: "StateMachine"
    when: windowShown

    property var window: null

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
        compare(window.screen, "showLicense")
        verify(!window.chromeShown)
        printClient.hasUpdate = false

        mouseClick(findChild(window.screenItem, "acceptButton"))
        compare(printClient.licenseAccepted, true)
        compare(testSupport.storedValue("licenseAccepted").toString(), "true")
        if (!printClient.started) {
            compare(window.screen, "loading")
            verify(findChild(window.screenItem, "splashBusy").visible)
        }
        tryCompare(printClient, "started", true, 30000)
        compare(window.screen, "allSet")
        verify(window.chromeShown)
        compare(window.screenItem.objectName, "initial")
    }

    function test_2_update_before_navigation() {
        printClient.hasUpdate = true
        compare(window.screen, "loading")
        verify(findChild(window.screenItem, "updateBox").visible)
        verify(!findChild(window.screenItem, "splashBusy").visible)
        printClient.hasUpdate = false
        compare(window.screen, "allSet")

        printClient.hasUpdate = true
        mouseClick(findChild(window.screenItem, "laterButton"))
        compare(window.screen, "allSet")
    }

    function test_3_update_after_navigation() {
        printClient.hasUpdate = false
        printClient.hasUpdate = true
        compare(window.screen, "allSet", "once navigated, only navigation changes the screen")
        printClient.hasUpdate = false
    }

    function test_4_navigation() {
        mouseClick(findChild(window.screenItem, "printerCard"))
        compare(window.screen, "config")
        verify(window.chromeShown)
        mouseClick(findChild(window.screenItem, "backButton"))
        compare(window.screen, "allSet")
        if (printClient.language !== "es") {
            mouseClick(findChild(window.screenItem, "terminalCard"))
            compare(window.screen, "terminals")
        }
        mouseClick(findChild(window, "footerHome"))
        compare(window.screen, "allSet")
    }

    function test_5_close_hides() {
        verify(window.visible)
        window.close()
        compare(window.visible, false, "closing only hides the window")
        printClient.showWindow()
        compare(window.visible, true)
        compare(window.screen, "allSet")
    }
}
