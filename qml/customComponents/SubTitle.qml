import QtQuick 2.15
import "../appSettings"

Text {
    font.family: GlobalSettings.fontFamily
    font.pixelSize: GlobalSettings.subtitleSize
    font.weight: Font.Normal
    color: GlobalSettings.subtitleColor
    wrapMode: Text.WordWrap
}
