import QtQuick 2.15
import QtQuick.Controls 2.15
import "../appSettings"

// A device list screen: the list with its column headers, the empty-list picture, the busy
// overlay while the lists are being fetched, and the refresh button beside "Voltar".
ListScreen {
    id: panel

    property alias nameHeader: nameHeaderText.text
    property alias emptyText: emptyLabel.text
    // The controller's list. It is announced on every refresh, changed or not; the rows are
    // made anew only when its entries change, so the list keeps its place and its switches.
    property var model: []
    property var shownEntries: []
    property alias delegate: list.delegate
    property alias footer: list.footer
    // Whether the column headers stay up over an empty list.
    property bool headerWhenEmpty: true
    // Whether the busy overlay also swallows clicks on the rows under it.
    property bool overlayBlocksClicks: false
    readonly property alias listView: list
    readonly property alias busyShown: busy.visible

    signal refresh

    onModelChanged: {
        var entries = []
        for (var i = 0; i < model.length; ++i)
            entries.push(model[i])
        var same = entries.length === shownEntries.length
        for (var j = 0; same && j < entries.length; ++j)
            same = entries[j] === shownEntries[j]
        if (!same)
            shownEntries = entries
    }

    extraButtons: Button {
        objectName: "refreshButton"
        text: qsTr("Atualizar lista")
        highlighted: true
        onClicked: panel.refresh()
    }

    Item {
        id: columns
        objectName: "listHeader"
        visible: panel.headerWhenEmpty || list.count > 0
        anchors.left: parent.left
        anchors.right: parent.right
        height: 44

        CommonLabelMedium {
            id: nameHeaderText
            anchors.left: parent.left
            anchors.leftMargin: 20
            anchors.verticalCenter: parent.verticalCenter
            color: GlobalSettings.listText
        }
        CommonLabelMedium {
            x: parent.width * 0.52
            anchors.verticalCenter: parent.verticalCenter
            color: GlobalSettings.listText
            text: qsTr("Estado")
        }
        CommonLabelMedium {
            x: parent.width * 0.74
            anchors.verticalCenter: parent.verticalCenter
            color: GlobalSettings.listText
            text: qsTr("Disponível")
        }
        Rectangle {
            anchors.bottom: parent.bottom
            width: parent.width
            height: 1
            color: GlobalSettings.greyBackground
        }
    }

    ListView {
        id: list
        model: panel.shownEntries
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: columns.bottom
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 4
        clip: true
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar {}
    }

    Column {
        objectName: "emptyList"
        visible: list.count === 0
        anchors.centerIn: parent
        spacing: 12

        Image {
            anchors.horizontalCenter: parent.horizontalCenter
            width: 160
            height: 120
            source: "qrc:/imgs/empty_list.png"
            smooth: true
        }
        CommonLabelRegular {
            id: emptyLabel
            anchors.horizontalCenter: parent.horizontalCenter
            font.pixelSize: GlobalSettings.subtitleSize
            color: GlobalSettings.emptyListText
        }
    }

    Rectangle {
        id: busy
        objectName: "busyOverlay"
        anchors.fill: parent
        radius: 8
        visible: printClient.fetching
        color: Qt.rgba(1, 1, 1, 0.7)

        BusyIndicatorSprite {
            anchors.centerIn: parent
        }
        MouseArea {
            anchors.fill: parent
            enabled: panel.overlayBlocksClicks
            hoverEnabled: panel.overlayBlocksClicks
            acceptedButtons: Qt.AllButtons
            onWheel: function (wheel) { wheel.accepted = true }
        }
    }
}
