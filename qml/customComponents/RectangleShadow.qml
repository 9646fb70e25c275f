import QtQuick 2.15
import "../appSettings"

// A white panel with a soft shadow. The shadow is a few stacked translucent outlines rather
// than a shader effect, so it also draws with the software renderer used without a display.
Item {
    id: panel

    property alias color: face.color
    property real radius: 8
    property color shadowColor: GlobalSettings.panelShadow
    default property alias content: face.data

    Repeater {
        model: 4
        Rectangle {
            required property int index
            x: -(index + 1)
            y: -(index + 1) + 2
            width: panel.width + 2 * (index + 1)
            height: panel.height + 2 * (index + 1)
            radius: panel.radius + index + 1
            color: "transparent"
            border.width: 1
            border.color: panel.shadowColor
            opacity: 0.55 - index * 0.13
        }
    }

    Rectangle {
        id: face
        anchors.fill: parent
        radius: panel.radius
        color: "white"
    }
}
