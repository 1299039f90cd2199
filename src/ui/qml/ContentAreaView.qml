import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mossbridge.Ui

// The header with the count and Clear History, the separator, and the history or its empty state.
Item {
    id: contentArea

    required property HistoryListModel historyModel
    property bool showClearConfirm: false

    onShowClearConfirmChanged: {
        if (showClearConfirm)
            clearConfirm.open()
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        RowLayout {
            objectName: "historyHeader"
            Layout.fillWidth: true
            Layout.leftMargin: 20
            Layout.rightMargin: 20
            Layout.topMargin: 12
            Layout.bottomMargin: 12
            spacing: 8

            Text {
                text: "EXPORT HISTORY"
                font.pixelSize: 11
                font.weight: Font.DemiBold
                font.letterSpacing: 0.8
                color: Theme.withOpacity(Theme.secondary, 0.8)
            }
            Item { Layout.fillWidth: true }
            Text {
                objectName: "historyCount"
                Layout.rightMargin: 8
                text: contentArea.historyModel.countText
                font.pixelSize: 12
                color: Theme.secondary
            }
            AbstractButton {
                id: clearButton
                objectName: "clearHistoryButton"
                enabled: contentArea.historyModel.clearEnabled
                leftPadding: 10
                rightPadding: 10
                topPadding: 6
                bottomPadding: 6
                onClicked: contentArea.showClearConfirm = true

                readonly property color labelColor: enabled ? Theme.secondary : Theme.withOpacity(Theme.secondary, 0.5)

                contentItem: Row {
                    spacing: 6
                    SymbolImage {
                        anchors.verticalCenter: parent.verticalCenter
                        name: "clock.arrow.circlepath"
                        pointSize: 12
                        color: clearButton.labelColor
                    }
                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: "Clear History"
                        font.pixelSize: 12
                        color: clearButton.labelColor
                    }
                }
                background: Rectangle {
                    radius: 6
                    color: Theme.withOpacity(Theme.gray, 0.15)
                }
            }
        }

        Rectangle {
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: Qt.rgba(58 / 255, 58 / 255, 58 / 255, 1)
        }

        EmptyHistoryState {
            objectName: "emptyHistoryState"
            visible: contentArea.historyModel.isEmpty
            Layout.fillWidth: true
            Layout.maximumWidth: Number.POSITIVE_INFINITY
            Layout.fillHeight: true
        }

        HistoryList {
            objectName: "historyList"
            visible: !contentArea.historyModel.isEmpty
            historyModel: contentArea.historyModel
            Layout.fillWidth: true
            Layout.maximumWidth: Number.POSITIVE_INFINITY
            Layout.fillHeight: true
        }
    }

    ClearHistoryDialog {
        id: clearConfirm
        objectName: "clearConfirm"
        anchors.centerIn: parent
        onClearConfirmed: contentArea.historyModel.clearHistory()
        onClosed: contentArea.showClearConfirm = false
    }
}
