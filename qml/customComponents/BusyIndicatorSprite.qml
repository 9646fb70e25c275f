import QtQuick 2.15

// The busy indicator: twelve frames of 64 x 64 pixels played at 30 frames per second.
AnimatedSprite {
    property bool light: false

    width: 64
    height: 64
    source: light ? "qrc:/imgs/busy_white.png" : "qrc:/imgs/busy_blue.png"
    frameCount: 12
    frameWidth: 64
    frameHeight: 64
    frameRate: 30
    interpolate: false
    loops: AnimatedSprite.Infinite
    running: visible
}
