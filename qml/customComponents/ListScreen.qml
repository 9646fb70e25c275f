import QtQuick 2.15
import QtQuick.Controls 2.15
import "../appSettings"

// The frame of the list screens: title and subtitle, a white panel for the list, and the
// "Voltar" button (with any further buttons) under it on the right.
Item {
    id: screen

    property alias title: titleText.text
    property alias subtitle: subtitleText.text
    default property alias content: panel.content
    property alias extraButtons: buttons.data

    signal back

    MainTitle {
        id: titleText
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.leftMargin: 48
        anchors.rightMargin: 48
        anchors.topMargin: 28
    }
    SubTitle {
        id: subtitleText
        anchors.left: titleText.left
        anchors.right: titleText.right
        anchors.top: titleText.bottom
        anchors.topMargin: 6
    }

    RectangleShadow {
        id: panel
        anchors.left: titleText.left
        anchors.right: titleText.right
        anchors.top: subtitleText.bottom
        anchors.topMargin: 20
        anchors.bottom: buttons.top
        anchors.bottomMargin: 20
    }

    Row {
        id: buttons
        anchors.right: titleText.right
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        spacing: 12

        Button {
            objectName: "backButton"
            text: qsTr("Voltar")
            flat: true
            onClicked: screen.back()
        }
    }
}
