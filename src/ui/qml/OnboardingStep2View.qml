import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Mossbridge.Ui

// The extension step: finds the browser, opens the connect page, and waits for the extension.
Item {
    id: step

    readonly property alias viewModel: model
    signal backRequested()
    signal finishRequested()

    OnboardingStep2ViewModel {
        id: model
        onBackRequested: step.backRequested()
        onFinishRequested: step.finishRequested()
    }

    Binding { target: model; property: "hoveringBack"; value: backArea.containsMouse }
    Binding { target: model; property: "hoveringFinish"; value: finishButton.hovering }

    Component.onCompleted: model.startChecking()

    // One panel for the status.
    Item {
        id: content
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.top: parent.top
        anchors.bottom: bottomBar.top
        anchors.leftMargin: 40
        anchors.rightMargin: 40

        ColumnLayout {
            anchors.centerIn: parent
            width: parent.width
            spacing: 16
            visible: model.statusName === "checking"

            BusyIndicator {
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 40
                Layout.preferredHeight: 40
                palette.dark: OnboardingColor.hex("8b5cf6")
                running: parent.visible
            }
            Text {
                Layout.alignment: Qt.AlignHCenter
                text: "Looking for Mossbridge extension..."
                color: OnboardingColor.hex(OnboardingTheme.grey)
                font.pixelSize: OnboardingTheme.body
            }
        }

        ColumnLayout {
            anchors.centerIn: parent
            width: parent.width
            spacing: 16
            visible: model.statusName === "notInstalled"

            OnboardingSymbol {
                Layout.alignment: Qt.AlignHCenter
                name: "puzzlepiece.extension"
                tint: "7c3aed"
                size: 48
            }
            Text {
                Layout.alignment: Qt.AlignHCenter
                text: "Install Chrome Extension"
                color: "white"
                font.pixelSize: OnboardingTheme.title3
                font.bold: true
            }
            Text {
                Layout.fillWidth: true
                text: "The extension captures conversations from Poe, ChatGPT, Claude, and other AI platforms."
                color: OnboardingColor.hex(OnboardingTheme.grey)
                font.pixelSize: OnboardingTheme.body
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }
            Rectangle {
                Layout.alignment: Qt.AlignHCenter
                implicitWidth: storeLabel.implicitWidth + 32
                implicitHeight: storeLabel.implicitHeight + 20
                radius: 8
                color: OnboardingColor.hex(storeArea.containsMouse ? "6d28d9" : "7c3aed")

                Row {
                    id: storeLabel
                    anchors.centerIn: parent
                    spacing: 6
                    Text {
                        text: "Install from Chrome Web Store"
                        color: "white"
                        font.pixelSize: OnboardingTheme.body
                        font.weight: Font.DemiBold
                        anchors.verticalCenter: parent.verticalCenter
                    }
                    OnboardingSymbol {
                        name: "arrow.up.right"
                        size: 12
                        anchors.verticalCenter: parent.verticalCenter
                    }
                }
                MouseArea {
                    id: storeArea
                    anchors.fill: parent
                    hoverEnabled: true
                    cursorShape: Qt.PointingHandCursor
                    onClicked: model.openStorePage()
                }
            }
            Row {
                Layout.alignment: Qt.AlignHCenter
                Layout.topMargin: 4
                spacing: 8
                BusyIndicator {
                    width: 20
                    height: 20
                    padding: 0
                    palette.dark: OnboardingColor.hex("8b5cf6")
                    running: parent.visible
                    anchors.verticalCenter: parent.verticalCenter
                }
                Text {
                    text: "Waiting for installation..."
                    color: OnboardingColor.hex(OnboardingTheme.grey)
                    font.pixelSize: OnboardingTheme.caption
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
        }

        ColumnLayout {
            anchors.centerIn: parent
            width: parent.width
            spacing: 16
            visible: model.statusName === "chromeNotInstalled"

            OnboardingSymbol {
                Layout.alignment: Qt.AlignHCenter
                name: "exclamationmark.triangle"
                tint: "f59e0b"
                size: 48
            }
            Text {
                Layout.alignment: Qt.AlignHCenter
                text: "Chrome Required"
                color: "white"
                font.pixelSize: OnboardingTheme.title3
                font.bold: true
            }
            Text {
                Layout.fillWidth: true
                text: "Mossbridge requires Google Chrome and the Mossbridge extension to capture AI conversations."
                color: OnboardingColor.hex(OnboardingTheme.grey)
                font.pixelSize: OnboardingTheme.body
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }
            Text {
                Layout.fillWidth: true
                text: "Please install Google Chrome manually to continue."
                color: OnboardingColor.hex(OnboardingTheme.grey)
                font.pixelSize: OnboardingTheme.caption
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }
        }

        ColumnLayout {
            anchors.centerIn: parent
            width: parent.width
            spacing: 16
            visible: model.statusName === "connected"

            OnboardingSymbol {
                Layout.alignment: Qt.AlignHCenter
                name: "checkmark.circle.fill"
                tint: "10b981"
                size: 56
            }
            Text {
                Layout.alignment: Qt.AlignHCenter
                text: "Extension Connected"
                color: "white"
                font.pixelSize: OnboardingTheme.title3
                font.bold: true
            }
            Text {
                Layout.fillWidth: true
                text: "Mossbridge is ready to capture your AI chats."
                color: OnboardingColor.hex(OnboardingTheme.grey)
                font.pixelSize: OnboardingTheme.body
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }
        }
    }

    // Bottom bar
    Item {
        id: bottomBar
        anchors.left: parent.left
        anchors.right: parent.right
        anchors.bottom: parent.bottom
        anchors.leftMargin: 32
        anchors.rightMargin: 32
        anchors.bottomMargin: 32
        height: 48

        Rectangle {
            visible: model.showsBack
            anchors.left: parent.left
            anchors.verticalCenter: parent.verticalCenter
            implicitWidth: backLabel.implicitWidth + 32
            implicitHeight: backLabel.implicitHeight + 20
            radius: 8
            color: model.hoveringBack ? Qt.rgba(1, 1, 1, 0.1) : "transparent"

            Text {
                id: backLabel
                anchors.centerIn: parent
                text: "← Back"
                color: model.hoveringBack ? "white" : OnboardingColor.hex(OnboardingTheme.grey)
                font.pixelSize: OnboardingTheme.body
                font.weight: Font.Medium
            }
            MouseArea {
                id: backArea
                anchors.fill: parent
                hoverEnabled: true
                cursorShape: Qt.PointingHandCursor
                onClicked: model.back()
            }
        }

        OnboardingActionButton {
            id: finishButton
            visible: model.showsFinish
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            width: 180
            text: "Get Started"
            trailingSymbol: "arrow.right"
            color: OnboardingColor.hex(model.hoveringFinish ? "059669" : "10b981")
            onClicked: model.finish()
        }
    }
}
