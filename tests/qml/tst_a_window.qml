import QtQuick 2.15
import QtTest 1.15

// The window from the first start on: terms, splash, the update notice that follows the
// controller only until the user has navigated once, navigation, the log screen and About.
TestCase {
    name: "Window"
    when: windowShown
    property var window: null

    function cleanupTestCase() {
        printClient.isDebugMode = false
        window.destroy()
    }

    function test_1_first_start() {
        printClient.hasUpdate = true // known before the terms are accepted: changes nothing yet
        window = Qt.createComponent("qrc:/main.qml").createObject(null)
        verify(window.visible, "the first start opens the window")
        compare(window.screenState, "showLicense")
        verify(!findChild(window, "header").visible && !findChild(window, "footer").visible)
        printClient.hasUpdate = false
        mouseClick(findChild(window.screenItem, "acceptButton"))
        compare(String(testSupport.storedValue("licenseAccepted")), "true")
        tryCompare(printClient, "started", true, 30000)
        compare(window.screenState, "allSet")
        verify(findChild(window, "header").visible && findChild(window, "footer").visible)
    }

    function test_2_update_before_navigation() {
        printClient.started = false // accepted, not started yet: the splash
        compare(window.screenState, "loading")
        verify(findChild(window.screenItem, "splashBusy").visible)
        printClient.started = true
        printClient.hasUpdate = true
        compare(window.screenState, "loading")
        verify(!findChild(window.screenItem, "splashBusy").visible)
        mouseClick(findChild(window.screenItem, "laterButton"))
        compare(window.screenState, "allSet")
        printClient.hasUpdate = false
        printClient.hasUpdate = true // once navigated, only navigation changes the screen
        compare(window.screenState, "allSet")
        printClient.hasUpdate = false
    }

    function test_3_navigation() {
        mouseClick(findChild(window.screenItem, "printerCard"))
        compare(window.screenState, "config")
        mouseClick(findChild(window.screenItem, "backButton"))
        compare(window.screenState, "allSet")
        compare(printClient.language, Qt.locale().name.substring(0, 2)) // the system's, from LC_ALL
        compare(window.screenItem.terminalCard.visible, printClient.language !== "es")
        if (printClient.language !== "es") {
            mouseClick(window.screenItem.terminalCard)
            compare(window.screenState, "terminals")
        }
        mouseClick(findChild(window, "footerHome"))
        compare(window.screenState, "allSet")
    }

    function test_4_logs_in_debug_mode() {
        verify(!findChild(window, "footerLogs").visible)
        printClient.isDebugMode = true
        waitForItemPolished(findChild(window, "footerLogs").parent)
        printClient.debugMessages = ["newer line", "older line"] // as the capture keeps them
        mouseClick(findChild(window, "footerLogs"))
        compare(window.screenState, "logs")
        var list = window.screenItem.listView
        tryVerify(function () { return list.count === 2 && list.itemAtIndex(1) !== null })
        compare([list.itemAtIndex(0).text, list.itemAtIndex(1).text], ["newer line", "older line"])
        mouseClick(findChild(window.screenItem, "backButton"))
    }

    function test_5_about() {
        mouseClick(findChild(window, "footerAbout"))
        mouseClick(findChild(window.aboutItem, "aboutPanel")) // a click on the panel keeps it
        verify(window.aboutOpen)
        mouseClick(window.aboutItem, 5, 5)
        tryCompare(window, "aboutOpen", false, 2000)
    }
}
