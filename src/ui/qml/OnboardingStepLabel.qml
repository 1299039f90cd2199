import QtQuick
import Mossbridge.Ui

// One step of the indicator: its number in a circle and its name, in the step's colour.
Row {
    id: label

    property int number
    property string text
    property color tint

    spacing: 8

    Rectangle {
        width: 22
        height: 22
        radius: 11
        color: "transparent"
        border.width: 1.5
        border.color: label.tint
        anchors.verticalCenter: parent.verticalCenter

        Text {
            anchors.centerIn: parent
            text: label.number
            color: label.tint
            font.pixelSize: 11
            font.bold: true
        }
    }
    Text {
        text: label.text
        color: label.tint
        font.pixelSize: 13
        font.weight: Font.DemiBold
        anchors.verticalCenter: parent.verticalCenter
    }
}
