import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mossbridge.Ui

// The groups of the history in a scrolling list, and the footer under it.
ColumnLayout {
    id: historyList

    required property HistoryListModel historyModel

    spacing: 0

    ScrollView {
        Layout.fillWidth: true
        Layout.fillHeight: true

        ListView {
            id: groupsView
            objectName: "historyGroups"
            model: historyList.historyModel
            spacing: 20
            bottomMargin: 24
            boundsBehavior: Flickable.StopAtBounds
            clip: true

            delegate: Column {
                id: group
                objectName: "historyGroup"

                required property string title
                required property var rows

                width: ListView.view.width
                leftPadding: 24
                rightPadding: 24
                spacing: 10

                Text {
                    objectName: "historyGroupTitle"
                    leftPadding: 4
                    text: group.title
                    font.pixelSize: 11
                    font.weight: Font.DemiBold
                    color: Theme.withOpacity(Theme.secondary, 0.7)
                }

                Rectangle {
                    width: group.width - group.leftPadding - group.rightPadding
                    height: groupRows.implicitHeight
                    radius: 10
                    color: Theme.withOpacity(Theme.controlBackground, 0.5)

                    Column {
                        id: groupRows
                        width: parent.width

                        Repeater {
                            model: group.rows

                            delegate: Column {
                                id: entry
                                required property var modelData
                                required property int index
                                width: groupRows.width

                                HistoryItemView {
                                    width: entry.width
                                    viewModel: entry.modelData
                                    // The box's rounded corners also shape the hover background.
                                    cornerRadius: 10
                                    roundsTop: entry.index === 0
                                    roundsBottom: entry.index === group.rows.length - 1
                                }
                                Rectangle {
                                    objectName: "historyDivider"
                                    visible: entry.modelData.hasDividerBelow
                                    width: entry.width
                                    height: 1
                                    color: Qt.rgba(1, 1, 1, 0.05)
                                }
                            }
                        }
                    }

                    // The outline, drawn over the rows.
                    Rectangle {
                        anchors.fill: parent
                        radius: 10
                        color: "transparent"
                        border.color: Qt.rgba(1, 1, 1, 0.1)
                        border.width: 1
                    }
                }
            }
        }
    }

    Text {
        objectName: "historyFooter"
        visible: historyList.historyModel.showsFooter
        Layout.alignment: Qt.AlignHCenter
        topPadding: 12
        bottomPadding: 12
        text: "Showing last 3 months"
        font.pixelSize: Theme.captionSize
        color: Theme.withOpacity(Theme.secondary, 0.6)
    }
}
