import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Mossbridge.Ui

// The confirmation before the whole history is cleared: "Cancel" does nothing else, the
// destructive "Clear" reports clearConfirmed.
Dialog {
    id: dialog

    signal clearConfirmed()

    modal: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    width: 300
    padding: 20
    topPadding: 20
    bottomPadding: 16

    component AlertButton: AbstractButton {
        id: alertButton
        property color textColor: Theme.primary
        property bool isDefault: false
        Layout.fillWidth: true
        implicitHeight: 28
        contentItem: Text {
            text: alertButton.text
            font.pixelSize: 13
            font.weight: alertButton.isDefault ? Font.DemiBold : Font.Normal
            color: alertButton.textColor
            horizontalAlignment: Text.AlignHCenter
            verticalAlignment: Text.AlignVCenter
        }
        background: Rectangle {
            radius: 6
            color: Theme.withOpacity(Theme.gray, alertButton.down ? 0.35 : 0.2)
        }
    }

    background: Rectangle {
        radius: 12
        color: Theme.popupBackground
        border.color: Theme.withOpacity(Theme.primary, 0.12)
        border.width: 1
    }

    Overlay.modal: Rectangle {
        color: Qt.rgba(0, 0, 0, 0.3)
    }

    contentItem: ColumnLayout {
        spacing: 16

        ColumnLayout {
            spacing: 6
            Layout.fillWidth: true

            Text {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                text: "Clear all export history?"
                font.pixelSize: 13
                font.weight: Font.DemiBold
                color: Theme.primary
            }
            Text {
                Layout.fillWidth: true
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.WordWrap
                text: "This removes all saved export entries."
                font.pixelSize: 11
                color: Theme.primary
            }
        }

        RowLayout {
            spacing: 8
            Layout.fillWidth: true

            AlertButton {
                objectName: "clearConfirmCancel"
                text: "Cancel"
                isDefault: true
                onClicked: dialog.reject()
            }
            AlertButton {
                objectName: "clearConfirmClear"
                text: "Clear"
                textColor: Theme.red
                onClicked: {
                    dialog.clearConfirmed()
                    dialog.accept()
                }
            }
        }
    }
}
