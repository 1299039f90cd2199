import QtQuick
import QtQuick.Layouts
import Mossbridge.Ui

// Shown under the header while the history holds nothing.
ColumnLayout {
    spacing: 16

    Item { Layout.fillHeight: true }
    SymbolImage {
        Layout.alignment: Qt.AlignHCenter
        name: "doc.text.magnifyingglass"
        pointSize: 40
        color: Theme.secondary
        opacity: 0.5
    }
    Text {
        Layout.alignment: Qt.AlignHCenter
        text: "No exports yet"
        font.pixelSize: Theme.title3Size
        font.weight: Font.Medium
        color: Theme.secondary
    }
    Item { Layout.fillHeight: true }
}
