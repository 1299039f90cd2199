import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import QtQuick.Templates as T
import Mossbridge.Ui

// Asks for the destination folder's name: OK or Cancel, Return and Escape likewise.
Popup {
    id: dialog

    signal finished(bool okPressed, string text)

    function openWith(name) {
        field.text = name
        open()
        field.forceActiveFocus()
        field.selectAll()
    }
    function finish(okPressed) {
        close()
        finished(okPressed, field.text)
    }

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: 320
    modal: true
    focus: true
    padding: 20
    closePolicy: Popup.NoAutoClose

    T.Overlay.modal: Rectangle {
        color: "#99000000"
    }
    background: Rectangle {
        color: OnboardingColor.hex("252525")
        radius: 12
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.1)
    }

    contentItem: ColumnLayout {
        spacing: 12

        Text {
            Layout.fillWidth: true
            text: "Set Destination Folder"
            color: "white"
            font.pixelSize: OnboardingTheme.headline
            font.bold: true
            horizontalAlignment: Text.AlignHCenter
        }
        Text {
            Layout.fillWidth: true
            text: "Enter the subfolder name inside your vault where chats will be saved."
            color: OnboardingColor.hex(OnboardingTheme.grey)
            font.pixelSize: OnboardingTheme.caption
            wrapMode: Text.WordWrap
            horizontalAlignment: Text.AlignHCenter
        }
        TextField {
            id: field
            Layout.alignment: Qt.AlignHCenter
            Layout.preferredWidth: 200
            Layout.preferredHeight: 24
            padding: 4
            color: "white"
            selectionColor: OnboardingColor.hex("7c3aed")
            selectedTextColor: "white"
            font.pixelSize: OnboardingTheme.subheadline
            background: Rectangle {
                color: OnboardingColor.hex("1a1a1a")
                radius: 4
                border.width: 1
                border.color: field.activeFocus ? OnboardingColor.hex("7c3aed") : Qt.rgba(1, 1, 1, 0.2)
            }
            Keys.onReturnPressed: dialog.finish(true)
            Keys.onEnterPressed: dialog.finish(true)
            Keys.onEscapePressed: dialog.finish(false)
        }
        RowLayout {
            Layout.fillWidth: true
            Layout.topMargin: 4
            spacing: 8

            OnboardingActionButton {
                Layout.fillWidth: true
                implicitHeight: 30
                text: "Cancel"
                color: hovering ? Qt.rgba(1, 1, 1, 0.2) : Qt.rgba(1, 1, 1, 0.1)
                onClicked: dialog.finish(false)
            }
            OnboardingActionButton {
                Layout.fillWidth: true
                implicitHeight: 30
                text: "OK"
                color: OnboardingColor.hex(hovering ? "6d28d9" : "7c3aed")
                onClicked: dialog.finish(true)
            }
        }
    }
}
