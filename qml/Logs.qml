import QtQuick 2.15
import QtQuick.Controls 2.15
import "appSettings"
import "customComponents"

// The captured log (debug mode), newest line first.
Item {
    id: screen
    objectName: "logs"

    signal navigate(string target)

    readonly property alias listView: list

    MainTitle {
        id: titleText
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.leftMargin: 48
        anchors.rightMargin: 48
        anchors.topMargin: 28
        text: qsTr("Logs")
    }
    SubTitle {
        id: subtitleText
        anchors.left: titleText.left
        anchors.right: titleText.right
        anchors.top: titleText.bottom
        anchors.topMargin: 6
        text: qsTr("Consulte os logs")
    }

    RectangleShadow {
        anchors.left: titleText.left
        anchors.right: titleText.right
        anchors.top: subtitleText.bottom
        anchors.topMargin: 20
        anchors.bottom: backButton.top
        anchors.bottomMargin: 20

        CommonLabelMedium {
            id: header
            anchors.left: parent.left
            anchors.leftMargin: 20
            anchors.top: parent.top
            height: 44
            verticalAlignment: Text.AlignVCenter
            color: GlobalSettings.listText
            text: qsTr("Mensagem")
        }
        Rectangle {
            id: rule
            anchors.top: header.bottom
            width: parent.width
            height: 1
            color: GlobalSettings.greyBackground
        }

        ListView {
            id: list
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.top: rule.bottom
            anchors.bottom: parent.bottom
            anchors.margins: 4
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            model: printClient.debugMessages
            ScrollBar.vertical: ScrollBar {}

            delegate: CommonLabelRegular {
                width: ListView.view.width - 32
                x: 16
                topPadding: 4
                bottomPadding: 4
                wrapMode: Text.WrapAnywhere
                font.family: "monospace"
                font.pixelSize: 12
                color: GlobalSettings.listText
                text: modelData
            }
        }
    }

    Button {
        id: backButton
        objectName: "backButton"
        anchors.right: titleText.right
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        text: qsTr("Voltar")
        flat: true
        onClicked: screen.navigate("allSet")
    }
}
