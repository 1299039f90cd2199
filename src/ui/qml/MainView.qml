import QtQuick

// The main window's root: the export history (filled in by the history views).
Item {
    implicitWidth: 720
    implicitHeight: 500
}
