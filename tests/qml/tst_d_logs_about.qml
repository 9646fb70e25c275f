import QtQuick 2.15
import QtTest 1.15

// The log screen (debug mode only) and the About overlay.
TestCase {
    id: testCase
    name: "LogsAndAbout"
    when: windowShown

    property var window: null

    function initTestCase() {
        if (!printClient.started) {
            printClient.licenseAccepted = true
            tryCompare(printClient, "started", true, 30000)
        }
        var component = Qt.createComponent("qrc:/main.qml")
        compare(component.status, Component.Ready, component.errorString())
        window = component.createObject(null)
        window.show()
        compare(window.screenState, "allSet")
    }

    function cleanupTestCase() {
        printClient.isDebugMode = false
        window.destroy()
    }

    function test_logs_in_debug_mode_newest_first() {
        printClient.isDebugMode = false
        verify(!findChild(window, "footerLogs").visible)
        printClient.isDebugMode = true
        verify(findChild(window, "footerLogs").visible)
        waitForItemPolished(findChild(window, "footerLogs").parent)

        testSupport.captureLog(true)
        testSupport.log("older line")
        testSupport.log("newer line")
        testSupport.captureLog(false)
        tryVerify(function () { return printClient.debugMessages.length >= 2 })

        mouseClick(findChild(window, "footerLogs"))
        compare(window.screenState, "logs")
        var list = window.screenItem.listView
        compare(list.count, printClient.debugMessages.length)
        tryVerify(function () { return list.itemAtIndex(1) !== null })
        verify(list.itemAtIndex(0).text.indexOf("newer line") >= 0, list.itemAtIndex(0).text)
        verify(list.itemAtIndex(1).text.indexOf("older line") >= 0, list.itemAtIndex(1).text)
        mouseClick(findChild(window.screenItem, "backButton"))
        compare(window.screenState, "allSet")
    }

    function test_about_height_follows_addresses_and_update() {
        var addresses = printClient.ipAddresses.length
        mouseClick(findChild(window, "footerAbout"))
        verify(window.aboutOpen)
        compare(window.aboutItem.panelHeight, 280 + 30 * addresses)
        printClient.hasUpdate = true
        compare(window.aboutItem.panelHeight, 430 + 30 * addresses)
        verify(findChild(window.aboutItem, "aboutUpdateBox").visible)
        printClient.hasUpdate = false
        compare(window.aboutItem.panelHeight, 280 + 30 * addresses)

        // Each address copies itself and says so on its own row for three seconds.
        if (addresses > 0) {
            testSupport.clearClipboard()
            var copy = findChild(window.aboutItem, "addressCopy")
            var copied = findChild(window.aboutItem, "addressCopied")
            compare(copied.opacity, 0)
            mouseClick(copy)
            compare(testSupport.clipboardText(), printClient.ipAddresses[0])
            compare(copied.opacity, 1)
            tryCompare(copied, "opacity", 0, 4000)
        }

        // A click on the panel keeps it; a click outside closes and destroys it.
        mouseClick(findChild(window.aboutItem, "aboutPanel"))
        verify(window.aboutOpen)
        mouseClick(window.aboutItem, 5, 5)
        tryCompare(window, "aboutOpen", false, 2000)
    }

    function test_compatibility_switch_takes_the_mode_once() {
        printClient.compatibilityMode = true
        window.openAbout()
        var about = window.aboutItem
        compare(about.compatibilitySwitch.checked, true)
        mouseClick(about.compatibilitySwitch)
        compare(printClient.compatibilityMode, false)
        compare(String(testSupport.storedValue("compatibilityMode")), "false")
        printClient.compatibilityMode = true
        compare(about.compatibilitySwitch.checked, false)
        mouseClick(findChild(about, "closeIcon"))
        tryCompare(window, "aboutOpen", false, 2000)
        printClient.compatibilityMode = false
    }
}
