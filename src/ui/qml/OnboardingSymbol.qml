import QtQuick

// A symbol of the onboarding views, tinted: the icon theme's symbolic icon or the packaged SVG.
Image {
    property string name
    property string tint: "ffffff"
    property int size: 20

    width: size
    height: size
    sourceSize: Qt.size(size, size)
    fillMode: Image.PreserveAspectFit
    // Each symbol is drawn for its colour and size; nothing to share through the pixmap cache.
    cache: false
    source: name.length > 0 ? "image://symbol/" + tint + "/" + name : ""
}
