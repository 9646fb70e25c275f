import QtQuick 2.15
import "../appSettings"

Text {
    font.family: GlobalSettings.fontFamily
    font.pixelSize: GlobalSettings.titleSize
    font.weight: Font.Medium
    color: GlobalSettings.titleColor
    wrapMode: Text.WordWrap
}
