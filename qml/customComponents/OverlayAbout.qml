import QtQuick 2.15
import "../appSettings"

// The About panel over a darkened window: version and update state, date, operating system,
// the machine's addresses (each copyable) and the compatibility mode switch. It animates in
// when created and emits closed() once its closing animation is over.
Item {
    id: overlay
    objectName: "about"

    signal closed

    readonly property int addressCount: printClient.ipAddresses.length
    readonly property alias panelHeight: panel.height
    readonly property alias compatibilitySwitch: compatibilitySwitch
    property bool closing: false
    // True once the opening animation is over.
    readonly property bool settled: !openAnimation.running && !closing

    function close() {
        if (closing)
            return
        closing = true
        closeAnimation.start()
    }

    Rectangle {
        id: shade
        anchors.fill: parent
        color: Qt.rgba(0, 0, 0, 0.35)
        opacity: 0

        // Nothing under the layer reacts while it is up: no clicks, hover or scrolling.
        MouseArea {
            objectName: "outside"
            anchors.fill: parent
            hoverEnabled: true
            onClicked: overlay.close()
            onWheel: function (wheel) { wheel.accepted = true }
        }
    }

    // Soft outer shadow behind the panel.
    Rectangle {
        anchors.centerIn: panel
        width: panel.width + 6
        height: panel.height + 6
        radius: panel.radius + 3
        color: GlobalSettings.outerShadow
        opacity: panel.opacity * 0.35
        scale: panel.scale
    }

    Rectangle {
        id: panel
        objectName: "aboutPanel"
        anchors.centerIn: parent
        width: 430
        height: (printClient.hasUpdate ? 430 : 280) + 30 * overlay.addressCount
        radius: 10
        color: "white"
        opacity: 0
        scale: 0.9

        // Clicks on the panel stay on the panel.
        MouseArea {
            anchors.fill: parent
        }

        Image {
            objectName: "closeIcon"
            anchors.right: parent.right
            anchors.top: parent.top
            anchors.margins: 14
            width: 20
            height: 20
            source: "qrc:/imgs/ic_close.png"
            smooth: true

            MouseArea {
                anchors.fill: parent
                anchors.margins: -6
                cursorShape: Qt.PointingHandCursor
                onClicked: overlay.close()
            }
        }

        Column {
            anchors.top: parent.top
            anchors.topMargin: 26
            anchors.horizontalCenter: parent.horizontalCenter
            width: parent.width - 64
            spacing: 8

            Image {
                anchors.horizontalCenter: parent.horizontalCenter
                width: 160
                height: 40
                source: "qrc:/imgs/maker_logo.png"
                fillMode: Image.PreserveAspectFit
                smooth: true
            }

            Item {
                width: 1
                height: 4
            }

            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 8

                Image {
                    anchors.verticalCenter: parent.verticalCenter
                    width: 20
                    height: 20
                    source: printClient.hasUpdate ? "qrc:/imgs/ic_outdated.png" : "qrc:/imgs/ic_uptodate.png"
                    smooth: true
                }
                CommonLabelMedium {
                    objectName: "versionState"
                    anchors.verticalCenter: parent.verticalCenter
                    text: printClient.hasUpdate ? qsTr("O Printarra está desatualizado") : qsTr("O Printarra está atualizado")
                }
            }

            InfoLine {
                label: qsTr("Versão: ").trim()
                value: RELEASENAME
            }
            InfoLine {
                label: qsTr("Data:")
                value: RELEASEDATE
            }
            InfoLine {
                label: qsTr("Sistema operativo:")
                value: OSDATA
            }

            Repeater {
                model: printClient.ipAddresses

                Item {
                    required property string modelData
                    width: parent.width
                    height: 22

                    Row {
                        id: addressRow
                        anchors.horizontalCenter: parent.horizontalCenter
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 6

                        CommonLabelRegular {
                            anchors.verticalCenter: parent.verticalCenter
                            color: GlobalSettings.versionText
                            text: qsTr("IP:")
                        }
                        CommonLabelRegular {
                            anchors.verticalCenter: parent.verticalCenter
                            text: modelData
                        }
                        Image {
                            objectName: "addressCopy"
                            anchors.verticalCenter: parent.verticalCenter
                            width: 16
                            height: 16
                            source: "qrc:/imgs/ic_copy.png"
                            smooth: true

                            MouseArea {
                                anchors.fill: parent
                                anchors.margins: -4
                                cursorShape: Qt.PointingHandCursor
                                onClicked: {
                                    printClient.clipboard(modelData)
                                    addressCopied.restart()
                                }
                            }
                        }
                    }
                    // Beside the centred row rather than in it, so the address does not move
                    // when it shows.
                    CommonLabelRegular {
                        objectName: "addressCopied"
                        anchors.left: addressRow.right
                        anchors.leftMargin: 8
                        anchors.verticalCenter: parent.verticalCenter
                        opacity: addressCopied.running ? 1 : 0
                        color: GlobalSettings.switchOn
                        text: qsTr("Copiado!")
                    }
                    Timer {
                        id: addressCopied
                        interval: 3000
                    }
                }
            }

            Item {
                width: 1
                height: 4
            }

            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 12

                CommonLabelMedium {
                    anchors.verticalCenter: parent.verticalCenter
                    text: qsTr("Modo Compatibilidade")
                }
                CommonLabelRegular {
                    anchors.verticalCenter: parent.verticalCenter
                    color: GlobalSettings.listText
                    text: printClient.compatibilityMode ? qsTr("Ativo") : qsTr("Desativo")
                }
                // Takes the mode once when the panel opens and writes every change back.
                CustomSwitch {
                    id: compatibilitySwitch
                    anchors.verticalCenter: parent.verticalCenter
                    onCheckedChanged: printClient.compatibilityMode = checked
                    Component.onCompleted: checked = printClient.compatibilityMode
                }
            }

            Item {
                width: 1
                height: 6
                visible: printClient.hasUpdate
            }

            Rectangle {
                objectName: "aboutUpdateBox"
                visible: printClient.hasUpdate
                width: parent.width
                height: 120
                radius: 8
                color: GlobalSettings.hoverOn

                Column {
                    anchors.centerIn: parent
                    spacing: 14

                    CommonLabelMedium {
                        anchors.horizontalCenter: parent.horizontalCenter
                        font.pixelSize: GlobalSettings.subtitleSize
                        text: qsTr("Atualização disponível.")
                    }
                    Rectangle {
                        objectName: "downloadButton"
                        anchors.horizontalCenter: parent.horizontalCenter
                        width: downloadText.implicitWidth + 48
                        height: 36
                        radius: 18
                        color: downloadMouse.containsMouse ? Qt.darker(GlobalSettings.blueBackground, 1.1) : GlobalSettings.blueBackground

                        CommonLabelMedium {
                            id: downloadText
                            anchors.centerIn: parent
                            color: "white"
                            text: qsTr("Descarregar")
                        }
                        MouseArea {
                            id: downloadMouse
                            anchors.fill: parent
                            hoverEnabled: true
                            cursorShape: Qt.PointingHandCursor
                            onClicked: Qt.openUrlExternally(GlobalSettings.downloadPage(printClient.language))
                        }
                    }
                }
            }
        }
    }

    component InfoLine: Row {
        property alias label: labelText.text
        property alias value: valueText.text

        anchors.horizontalCenter: parent.horizontalCenter
        spacing: 6

        CommonLabelRegular {
            id: labelText
            color: GlobalSettings.versionText
        }
        // A long operating system name wraps rather than being cut off.
        CommonLabelRegular {
            id: valueText
            width: Math.min(implicitWidth, 366 - labelText.implicitWidth - 6)
            wrapMode: Text.WrapAtWordBoundaryOrAnywhere
        }
    }

    ParallelAnimation {
        id: openAnimation
        running: true
        NumberAnimation { target: shade; property: "opacity"; to: 1; duration: 200 }
        NumberAnimation { target: panel; property: "opacity"; to: 1; duration: 200 }
        NumberAnimation { target: panel; property: "scale"; to: 1; duration: 200; easing.type: Easing.OutCubic }
    }
    SequentialAnimation {
        id: closeAnimation
        ParallelAnimation {
            NumberAnimation { target: shade; property: "opacity"; to: 0; duration: 200 }
            NumberAnimation { target: panel; property: "opacity"; to: 0; duration: 200 }
            NumberAnimation { target: panel; property: "scale"; to: 0.9; duration: 200; easing.type: Easing.InCubic }
        }
        ScriptAction { script: overlay.closed() }
    }
}
