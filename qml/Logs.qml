import QtQuick 2.15
import QtQuick.Controls 2.15
import "appSettings"
import "customComponents"

// The captured log (debug mode), newest line first.
ListScreen {
    id: screen
    objectName: "logs"

    signal navigate(string target)

    readonly property alias listView: list

    title: qsTr("Logs")
    subtitle: qsTr("Consulte os logs")
    onBack: navigate("allSet")

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
