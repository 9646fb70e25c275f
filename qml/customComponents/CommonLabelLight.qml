import QtQuick 2.15
import "../appSettings"

Text {
    font.family: GlobalSettings.fontFamily
    font.pixelSize: GlobalSettings.minorSize
    font.weight: Font.Light
    color: GlobalSettings.subtitleColor
}
