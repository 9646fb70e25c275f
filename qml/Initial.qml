import QtQuick 2.15
import QtQuick.Controls 2.15
import "appSettings"
import "customComponents"

// The main screen: the service switch, the security key and the choice of device type.
Item {
    id: screen
    objectName: "initial"

    signal navigate(string target)

    readonly property alias serviceSwitch: serviceSwitch
    readonly property alias copiedShown: copied.visible
    readonly property alias terminalCard: terminalCard

    function copyKey() {
        printClient.clipboard(printClient.securityKey)
        copiedTimer.restart()
    }

    Column {
        anchors.fill: parent
        anchors.leftMargin: 48
        anchors.rightMargin: 48
        anchors.topMargin: 28
        spacing: 6

        MainTitle {
            width: parent.width
            text: qsTr("Configuração de dispositivos")
        }
        SubTitle {
            width: parent.width
            text: qsTr("Escolha o tipo de dispositivo que pretende configurar")
        }

        Item {
            width: 1
            height: 14
        }

        RectangleShadow {
            width: parent.width
            height: 112

            Column {
                anchors.fill: parent
                anchors.margins: 20
                spacing: 18

                Item {
                    width: parent.width
                    height: 24

                    CommonLabelMedium {
                        id: serviceTitle
                        anchors.verticalCenter: parent.verticalCenter
                        font.pixelSize: GlobalSettings.subtitleSize
                        text: qsTr("Estado do serviço")
                    }
                    // Where the web application finds the service, or why it cannot.
                    CommonLabelRegular {
                        objectName: "serviceStatus"
                        anchors.left: serviceTitle.right
                        anchors.leftMargin: 16
                        anchors.verticalCenter: parent.verticalCenter
                        font.pixelSize: GlobalSettings.minorSize
                        color: printClient.serviceProblem === "" ? GlobalSettings.listText : "#B03A3A"
                        text: {
                            var port = printClient.listenPort
                            switch (printClient.serviceProblem) {
                            case "portInUse": return qsTr("A porta %1 está ocupada por outro programa").arg(port)
                            case "cannotListen": return qsTr("Não é possível escutar na porta %1").arg(port)
                            case "termsNotAccepted": return qsTr("Termos de utilização por aceitar")
                            case "tlsUnusable": return qsTr("Certificado TLS inutilizável")
                            }
                            return printClient.listening ? qsTr("A aceitar pedidos na porta %1").arg(port) : ""
                        }
                    }
                    Row {
                        anchors.right: parent.right
                        anchors.verticalCenter: parent.verticalCenter
                        spacing: 12

                        CommonLabelRegular {
                            objectName: "serviceLabel"
                            anchors.verticalCenter: parent.verticalCenter
                            color: printClient.serverActive ? GlobalSettings.switchOn : GlobalSettings.listText
                            text: printClient.serverActive ? qsTr("Ativo") : qsTr("Desativo")
                        }
                        // Takes the service state once; later changes from the tray do not move it.
                        CustomSwitch {
                            id: serviceSwitch
                            anchors.verticalCenter: parent.verticalCenter
                            onCheckedChanged: printClient.serverActive = checked
                            Component.onCompleted: checked = printClient.serverActive
                        }
                    }
                }

                Rectangle {
                    width: parent.width
                    height: 1
                    color: GlobalSettings.greyBackground
                }

                Row {
                    height: 24
                    spacing: 10

                    CommonLabelMedium {
                        anchors.verticalCenter: parent.verticalCenter
                        text: qsTr("Chave de segurança:")
                    }
                    CommonLabelRegular {
                        objectName: "keyText"
                        anchors.verticalCenter: parent.verticalCenter
                        font.family: "monospace"
                        font.pixelSize: GlobalSettings.subtitleSize
                        color: GlobalSettings.blueBackground
                        text: printClient.securityKey

                        MouseArea {
                            anchors.fill: parent
                            cursorShape: Qt.PointingHandCursor
                            onClicked: screen.copyKey()
                        }
                    }
                    Image {
                        objectName: "keyCopy"
                        anchors.verticalCenter: parent.verticalCenter
                        width: 20
                        height: 20
                        source: "qrc:/imgs/ic_copy.png"
                        smooth: true

                        MouseArea {
                            anchors.fill: parent
                            anchors.margins: -4
                            cursorShape: Qt.PointingHandCursor
                            onClicked: screen.copyKey()
                        }
                    }
                    CommonLabelRegular {
                        id: copied
                        anchors.verticalCenter: parent.verticalCenter
                        visible: copiedTimer.running
                        color: GlobalSettings.switchOn
                        text: qsTr("Copiado!")
                    }
                }
            }
        }

        Item {
            width: 1
            height: 22
        }

        Row {
            width: parent.width
            spacing: 24

            DeviceCard {
                objectName: "printerCard"
                icon: "qrc:/imgs/ic_printer.png"
                title: qsTr("Impressoras")
                text: qsTr("Configurar impressoras no ponto de venda.")
                onClicked: screen.navigate("config")
            }
            DeviceCard {
                id: terminalCard
                objectName: "terminalCard"
                visible: printClient.language !== "es"
                icon: "qrc:/imgs/ic_terminal.png"
                title: qsTr("Terminais de pagamento automático (TPA)")
                text: qsTr("Configurar terminais no ponto de venda.")
                onClicked: screen.navigate("terminals")
            }
        }
    }

    Timer {
        id: copiedTimer
        interval: 3000
    }

    component DeviceCard: RectangleShadow {
        id: card

        property alias icon: cardIcon.source
        property alias title: cardTitle.text
        property alias text: cardText.text
        signal clicked

        width: (parent.width - parent.spacing) / 2
        height: 150
        color: cardMouse.containsMouse ? GlobalSettings.hoverOn : GlobalSettings.hoverOff

        Image {
            id: cardIcon
            anchors.left: parent.left
            anchors.leftMargin: 20
            anchors.verticalCenter: parent.verticalCenter
            width: 64
            height: 64
            smooth: true
        }
        Column {
            anchors.left: cardIcon.right
            anchors.leftMargin: 18
            anchors.right: cardArrow.left
            anchors.rightMargin: 12
            anchors.verticalCenter: parent.verticalCenter
            spacing: 6

            CommonLabelMedium {
                id: cardTitle
                width: parent.width
                font.pixelSize: GlobalSettings.subtitleSize
                wrapMode: Text.WordWrap
            }
            CommonLabelLight {
                id: cardText
                width: parent.width
                wrapMode: Text.WordWrap
            }
        }
        Image {
            id: cardArrow
            anchors.right: parent.right
            anchors.rightMargin: 16
            anchors.verticalCenter: parent.verticalCenter
            width: 24
            height: 24
            source: "qrc:/imgs/ic_arrow.png"
            smooth: true
        }
        MouseArea {
            id: cardMouse
            anchors.fill: parent
            hoverEnabled: true
            cursorShape: Qt.PointingHandCursor
            onClicked: card.clicked()
        }
    }
}
