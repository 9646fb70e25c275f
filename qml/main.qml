import QtQuick 2.15
import QtQuick.Window 2.15

// The main window. It opens by itself only on the first start; later starts stay in the
// background until another start or the tray asks for the window.
Window {
    id: mainWindow
    title: "Printarra"
    width: DISPLAY_WIDTH
    height: DISPLAY_HEIGHT
    minimumWidth: DISPLAY_WIDTH
    minimumHeight: DISPLAY_HEIGHT
    maximumWidth: DISPLAY_WIDTH
    maximumHeight: DISPLAY_HEIGHT
    visible: printClient.firstStartup

    Connections {
        target: printClient
        function onShowWindow() {
            mainWindow.show()
            mainWindow.raise()
            mainWindow.requestActivate()
        }
    }

    Text {
        anchors.centerIn: parent
        text: "Printarra " + RELEASENAME
    }
}
