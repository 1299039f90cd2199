import QtQuick
import Mossbridge.Ui

// A filled, rounded button with a text, optionally followed by a symbol (the "Continue →"
// label). The colour comes from the caller, which knows the hover rules.
Rectangle {
    id: button

    property string text
    property string trailingSymbol
    property bool hovering: area.containsMouse
    property bool enabledForInput: true
    signal clicked()

    implicitHeight: label.implicitHeight + 28
    radius: 8

    Row {
        id: label
        anchors.centerIn: parent
        spacing: 6

        Text {
            text: button.text
            color: "white"
            font.pixelSize: 14
            font.weight: Font.DemiBold
            anchors.verticalCenter: parent.verticalCenter
        }
        OnboardingSymbol {
            visible: button.trailingSymbol.length > 0
            name: button.trailingSymbol
            size: 14
            anchors.verticalCenter: parent.verticalCenter
        }
    }

    MouseArea {
        id: area
        anchors.fill: parent
        hoverEnabled: true
        enabled: button.enabledForInput
        cursorShape: Qt.PointingHandCursor
        onClicked: button.clicked()
    }
}
