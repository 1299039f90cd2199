import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mossbridge.Ui

// One export in the history: state icon, title (with the missing badge), age and folder, the
// error of a failed export, and an arrow while the pointer is over the row. A click opens the
// note; the context menu opens it, copies its link or shows it in the file manager.
Item {
    id: row
    objectName: "historyItem"

    required property HistoryItemViewModel viewModel
    property bool isHovering: false
    // Corners of the enclosing box that the hover background follows.
    property real cornerRadius: 0
    property bool roundsTop: false
    property bool roundsBottom: false

    implicitHeight: content.implicitHeight + 24

    // The hover background: a rounded rectangle clipped so only the corners asked for are round.
    Item {
        anchors.fill: parent
        clip: true
        Rectangle {
            x: 0
            width: parent.width
            y: row.roundsTop ? 0 : -row.cornerRadius
            height: parent.height + (row.roundsTop ? 0 : row.cornerRadius) + (row.roundsBottom ? 0 : row.cornerRadius)
            radius: row.cornerRadius
            color: Theme.withOpacity(Theme.primary, 0.04)
            opacity: row.isHovering ? 1 : 0
            Behavior on opacity {
                NumberAnimation { duration: 150; easing.type: Easing.InOutQuad }
            }
        }
    }

    RowLayout {
        id: content
        anchors.fill: parent
        anchors.leftMargin: 14
        anchors.rightMargin: 14
        anchors.topMargin: 12
        anchors.bottomMargin: 12
        spacing: 14

        Rectangle {
            objectName: "historyItemTile"
            Layout.preferredWidth: 32
            Layout.preferredHeight: 32
            Layout.alignment: Qt.AlignVCenter
            radius: 7
            color: Theme.withOpacity(Theme.toneColor(row.viewModel.tileTone), 0.1)

            SymbolImage {
                objectName: "historyItemIcon"
                anchors.centerIn: parent
                name: row.viewModel.iconName
                pointSize: 16
                color: Theme.toneColor(row.viewModel.iconTone)
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            // Takes the free width (the row's flexible space) instead of its texts' width.
            Layout.maximumWidth: Number.POSITIVE_INFINITY
            Layout.alignment: Qt.AlignVCenter
            spacing: 4

            RowLayout {
                spacing: 8
                Layout.fillWidth: true

                Text {
                    // Its own width, shrunk (and elided) only when the row is too narrow.
                    Layout.fillWidth: false
                    text: row.viewModel.title
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    maximumLineCount: 1
                    font.pixelSize: 13
                    font.weight: Font.Medium
                    color: row.viewModel.isMissing ? Theme.withOpacity(Theme.secondary, 0.5) : Theme.withOpacity(Theme.primary, 0.9)
                }
                Rectangle {
                    objectName: "historyItemMissingBadge"
                    visible: row.viewModel.isMissing
                    implicitWidth: badgeText.implicitWidth + 8
                    implicitHeight: badgeText.implicitHeight + 2
                    radius: 4
                    color: Theme.withOpacity(Theme.secondary, 0.1)
                    Text {
                        id: badgeText
                        anchors.centerIn: parent
                        text: "⚠️ missing"
                        font.pixelSize: 10
                        color: Theme.secondary
                    }
                }
            }

            Row {
                Layout.fillWidth: true
                spacing: 4
                readonly property color metaColor: row.viewModel.isMissing ? Theme.withOpacity(Theme.secondary, 0.5) : Theme.secondary

                Text {
                    text: row.viewModel.ageText
                    font.pixelSize: 11
                    color: parent.metaColor
                }
                Text {
                    text: "·"
                    font.pixelSize: 11
                    color: parent.metaColor
                }
                Text {
                    text: row.viewModel.folderName
                    textFormat: Text.PlainText
                    font.pixelSize: 11
                    color: Theme.withOpacity(parent.metaColor, 0.7)
                }
            }

            Text {
                objectName: "historyItemError"
                visible: row.viewModel.hasError
                Layout.fillWidth: true
                text: row.viewModel.errorText
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                font.pixelSize: Theme.captionSize
                color: Theme.red
            }
        }

        SymbolImage {
            objectName: "historyItemArrow"
            visible: row.viewModel.showsHoverArrow
            Layout.alignment: Qt.AlignVCenter
            name: "arrow.up.forward"
            pointSize: 12
            color: Theme.secondary
            opacity: row.isHovering ? 0.5 : 0
            Behavior on opacity {
                NumberAnimation { duration: 150; easing.type: Easing.InOutQuad }
            }
        }
    }

    MouseArea {
        anchors.fill: parent
        hoverEnabled: true
        acceptedButtons: Qt.LeftButton | Qt.RightButton
        onEntered: row.isHovering = true
        onExited: row.isHovering = false
        onClicked: (mouse) => {
            if (mouse.button === Qt.RightButton)
                contextMenu.popup()
            else
                row.viewModel.activate()
        }
    }

    Menu {
        id: contextMenu
        objectName: "historyItemMenu"
        palette.window: Theme.popupBackground
        palette.windowText: Theme.primary
        palette.disabled.windowText: Theme.withOpacity(Theme.primary, 0.35)
        palette.light: Theme.withOpacity(Theme.primary, 0.1)
        palette.midlight: Theme.withOpacity(Theme.primary, 0.16)
        palette.highlightedText: Theme.primary
        palette.dark: Theme.withOpacity(Theme.primary, 0.15)

        MenuItem {
            objectName: "menuOpenInObsidian"
            text: "Open in Obsidian"
            enabled: row.viewModel.openEnabled
            onTriggered: row.viewModel.openInObsidian()
        }
        MenuItem {
            objectName: "menuCopyLink"
            text: "Copy Link"
            onTriggered: row.viewModel.copyLink()
        }
        MenuItem {
            objectName: "menuShowInFolder"
            text: "Show in Folder"
            enabled: row.viewModel.showInFolderEnabled
            onTriggered: row.viewModel.showInFolder()
        }
    }
}
