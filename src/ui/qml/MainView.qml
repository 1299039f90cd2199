import QtQuick
import Mossbridge.Ui

// The main window's root: the export history over the window's background colour.
Rectangle {
    id: mainView
    implicitWidth: 720
    implicitHeight: 500
    color: Theme.windowBackground

    ContentAreaView {
        anchors.fill: parent
        historyModel: HistoryListModel {}
    }
}
