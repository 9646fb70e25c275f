import QtQuick 2.15
import QtQuick.Window 2.15
import QtQuick.Controls 2.15
import Qt.labs.platform 1.1 as Platform
import "appSettings"
import "customComponents"

// The main window, the tray icon and the choice of screen. The window opens by itself only on
// the first start; later starts stay in the tray until the user or another start asks for it.
Window {
    id: mainWindow
    objectName: "mainWindow"

    // Follows the controller until the user navigates for the first time; from then on only
    // navigation changes the screen.
    property string screenState: printClient.started ? (printClient.hasUpdate ? "loading" : "allSet")
                                                : (printClient.licenseAccepted ? "loading" : "showLicense")
    readonly property bool chromeShown: screenState !== "showLicense" && screenState !== "loading"
    readonly property alias aboutOpen: aboutLoader.active
    readonly property alias screenItem: screenLoader.item
    readonly property alias aboutItem: aboutLoader.item
    readonly property alias trayIcon: tray

    function navigate(target) {
        screenState = target
    }
    function bringToFront() {
        mainWindow.show()
        mainWindow.raise()
        mainWindow.requestActivate()
    }
    function openAbout() {
        aboutLoader.active = true
    }

    title: qsTr("Printarra")
    width: DISPLAY_WIDTH
    height: DISPLAY_HEIGHT
    minimumWidth: DISPLAY_WIDTH
    minimumHeight: DISPLAY_HEIGHT
    maximumWidth: DISPLAY_WIDTH
    maximumHeight: DISPLAY_HEIGHT
    visible: printClient.firstStartup
    color: GlobalSettings.greyBackground

    // The connector keeps serving while the window is closed: closing only hides it.
    onClosing: function (close) {
        close.accepted = false
        mainWindow.hide()
    }

    Connections {
        target: printClient
        function onShowWindow() {
            mainWindow.bringToFront()
        }
        function onMessageChanged() {
            if (tray.available)
                tray.showMessage("Printarra", printClient.message)
        }
    }

    Platform.SystemTrayIcon {
        id: tray
        visible: true
        icon.source: printClient.serverActive ? "qrc:/imgs/ic_systray_on.png" : "qrc:/imgs/ic_systray_off.png"
        tooltip: qsTr("Printarra")
        // The context click opens the menu only.
        onActivated: function (reason) {
            if (reason !== Platform.SystemTrayIcon.Context)
                mainWindow.bringToFront()
        }
        onMessageClicked: mainWindow.bringToFront()

        menu: Platform.Menu {
            Platform.MenuItem {
                objectName: "trayOpen"
                text: qsTr("Abrir")
                onTriggered: mainWindow.bringToFront()
            }
            Platform.MenuItem {
                objectName: "trayService"
                text: printClient.serverActive ? qsTr("Desligar serviço") : qsTr("Ligar serviço")
                onTriggered: printClient.serverActive = !printClient.serverActive
            }
            Platform.MenuItem {
                objectName: "trayQuit"
                text: qsTr("Sair")
                onTriggered: Qt.quit()
            }
        }
    }

    component FooterLink: CommonLabelRegular {
        signal clicked
        anchors.verticalCenter: parent.verticalCenter
        color: "white"
        MouseArea {
            anchors.fill: parent
            anchors.margins: -6
            cursorShape: Qt.PointingHandCursor
            onClicked: parent.clicked()
        }
    }
    component FooterBar: Rectangle {
        anchors.verticalCenter: parent.verticalCenter
        width: 1
        height: 16
        color: GlobalSettings.lightText
    }

    Component {
        id: licenseScreen
        License {}
    }
    Component {
        id: mainScreen
        Initial {}
    }
    Component {
        id: printerScreen
        Config {}
    }
    Component {
        id: terminalScreen
        Terminals {}
    }
    Component {
        id: logScreen
        Logs {}
    }

    // Splash while the service starts, or the update notice when a newer version is known.
    Component {
        id: splashScreen
        Item {
            objectName: "splash"
            signal navigate(string target)

            Image {
                id: splashIcon
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.bottom: parent.verticalCenter
                anchors.bottomMargin: 24
                width: 160
                height: 160
                source: "qrc:/imgs/splash_icon.png"
                smooth: true
            }

            BusyIndicatorSprite {
                objectName: "splashBusy"
                visible: !printClient.hasUpdate
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.top: parent.verticalCenter
                anchors.topMargin: 24
            }

            RectangleShadow {
                objectName: "updateBox"
                visible: printClient.hasUpdate
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.top: parent.verticalCenter
                anchors.topMargin: 8
                width: 440
                height: updateColumn.implicitHeight + 48

                Column {
                    id: updateColumn
                    anchors.centerIn: parent
                    width: parent.width - 48
                    spacing: 12

                    MainTitle {
                        width: parent.width
                        horizontalAlignment: Text.AlignHCenter
                        text: qsTr("Atualização disponível!")
                    }
                    SubTitle {
                        width: parent.width
                        horizontalAlignment: Text.AlignHCenter
                        text: qsTr("Uma nova versão do Printarra \nestá disponível para descarregar.")
                    }
                    Row {
                        anchors.horizontalCenter: parent.horizontalCenter
                        spacing: 16
                        topPadding: 8

                        Button {
                            objectName: "laterButton"
                            text: qsTr("Mais tarde")
                            flat: true
                            onClicked: navigate("allSet")
                        }
                        Button {
                            objectName: "updateButton"
                            text: qsTr("Atualizar")
                            highlighted: true
                            onClicked: Qt.openUrlExternally(GlobalSettings.downloadPage(printClient.language))
                        }
                    }
                }
            }

            Image {
                anchors.horizontalCenter: parent.horizontalCenter
                anchors.bottom: parent.bottom
                anchors.bottomMargin: 24
                width: 120
                height: 24
                source: "qrc:/imgs/logo_small.png"
                fillMode: Image.PreserveAspectFit
                smooth: true
            }
        }
    }

    // Sized from the window itself: the window's own content item only takes its size once the
    // platform has shown the window, and the window starts hidden.
    Item {
        id: content
        width: mainWindow.width
        height: mainWindow.height

        Rectangle {
            id: header
            objectName: "header"
            visible: mainWindow.chromeShown
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: parent.top
            height: GlobalSettings.headerHeight
            color: GlobalSettings.blueBackground

            Image {
                anchors.left: parent.left
                anchors.leftMargin: 32
                anchors.verticalCenter: parent.verticalCenter
                width: 200
                height: 48
                source: "qrc:/imgs/header_icon.png"
                fillMode: Image.PreserveAspectFit
                smooth: true
            }
        }

        Loader {
            id: screenLoader
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: mainWindow.chromeShown ? header.bottom : parent.top
            anchors.bottom: mainWindow.chromeShown ? footer.top : parent.bottom
            sourceComponent: {
                switch (mainWindow.screenState) {
                case "showLicense":
                    return licenseScreen
                case "loading":
                    return splashScreen
                case "config":
                    return printerScreen
                case "terminals":
                    return terminalScreen
                case "logs":
                    return logScreen
                default:
                    return mainScreen
                }
            }

            Connections {
                target: screenLoader.item
                ignoreUnknownSignals: true
                function onNavigate(target) {
                    mainWindow.navigate(target)
                }
            }
        }

        Rectangle {
            id: footer
            objectName: "footer"
            visible: mainWindow.chromeShown
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: GlobalSettings.footerHeight
            color: GlobalSettings.blueBackground

            Row {
                anchors.left: parent.left
                anchors.leftMargin: 24
                anchors.verticalCenter: parent.verticalCenter
                spacing: 8

                Image {
                    anchors.verticalCenter: parent.verticalCenter
                    width: 80
                    height: 20
                    source: "qrc:/imgs/maker_mark_white.png"
                    fillMode: Image.PreserveAspectFit
                    smooth: true
                }
                CommonLabelLight {
                    objectName: "footerMark"
                    anchors.verticalCenter: parent.verticalCenter
                    color: GlobalSettings.lightText
                    text: "© " + new Date().getFullYear()
                }
            }

            MouseArea {
                objectName: "footerHome"
                anchors.left: parent.left
                anchors.top: parent.top
                anchors.bottom: parent.bottom
                width: 200
                cursorShape: Qt.PointingHandCursor
                onClicked: mainWindow.navigate("allSet")
            }

            Row {
                anchors.right: parent.right
                anchors.rightMargin: 24
                anchors.verticalCenter: parent.verticalCenter
                spacing: 14

                FooterLink {
                    text: qsTr("Descargas")
                    onClicked: Qt.openUrlExternally(GlobalSettings.downloadPage(printClient.language))
                }
                FooterBar {}
                FooterLink {
                    text: qsTr("Ajuda")
                    onClicked: Qt.openUrlExternally(GlobalSettings.helpPage(printClient.language))
                }
                FooterBar {}
                FooterLink {
                    text: qsTr("Apoio cliente")
                    onClicked: Qt.openUrlExternally(GlobalSettings.contactPage(printClient.language))
                }
                FooterBar {
                    visible: printClient.isDebugMode
                }
                FooterLink {
                    objectName: "footerLogs"
                    visible: printClient.isDebugMode
                    text: qsTr("Logs")
                    onClicked: mainWindow.navigate("logs")
                }
                FooterBar {}
                FooterLink {
                    objectName: "footerAbout"
                    text: qsTr("Sobre")
                    onClicked: mainWindow.openAbout()
                }
            }
        }

        Loader {
            id: aboutLoader
            anchors.fill: parent
            active: false
            source: "qrc:/customComponents/OverlayAbout.qml"

            Connections {
                target: aboutLoader.item
                function onClosed() {
                    aboutLoader.active = false
                }
            }
        }
    }
}
