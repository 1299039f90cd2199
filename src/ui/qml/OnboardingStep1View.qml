import QtQuick
import QtQuick.Layouts
import Mossbridge.Ui

// The vault step: the vault folder and the destination folder inside it.
Item {
    id: step

    property bool settingsForm: false
    readonly property alias viewModel: model
    signal continued()

    OnboardingStep1ViewModel {
        id: model
        settingsForm: step.settingsForm
        onContinued: step.continued()
        onFolderEditRequested: (currentName) => folderDialog.openWith(currentName)
    }

    Binding { target: model; property: "hoveringSource"; value: vaultRow.hovering }
    Binding { target: model; property: "hoveringDest"; value: destinationRow.hovering }
    Binding { target: model; property: "hoveringChange"; value: changeArea.containsMouse }
    Binding { target: model; property: "hoveringEdit"; value: editArea.containsMouse }
    Binding { target: model; property: "hoveringContinue"; value: continueButton.hovering }

    Component.onCompleted: model.loadSettings()

    ColumnLayout {
        anchors.verticalCenter: parent.verticalCenter
        width: parent.width
        spacing: 24

        // Header
        ColumnLayout {
            visible: model.showsHeader
            Layout.alignment: Qt.AlignHCenter
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            spacing: 8

            Item {
                Layout.alignment: Qt.AlignHCenter
                Layout.preferredWidth: 80
                Layout.preferredHeight: 80

                Image {
                    id: logo
                    anchors.fill: parent
                    source: "qrc:/resources/logo-trimmed.svg"
                    sourceSize: Qt.size(160, 160)
                    fillMode: Image.PreserveAspectFit
                    cache: false
                    visible: status === Image.Ready
                }
                OnboardingSymbol {
                    anchors.centerIn: parent
                    visible: logo.status === Image.Error
                    name: "diamond.fill"
                    tint: "7c3aed"
                    size: 32
                }
            }
            Text {
                Layout.alignment: Qt.AlignHCenter
                text: "Welcome to Mossbridge"
                color: "white"
                font.pixelSize: OnboardingTheme.title2
                font.bold: true
            }
            Text {
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: 400
                text: "Connect your Obsidian vault to start saving AI conversations as Markdown files."
                color: OnboardingColor.hex(OnboardingTheme.grey)
                font.pixelSize: OnboardingTheme.body
                wrapMode: Text.WordWrap
                horizontalAlignment: Text.AlignHCenter
            }
        }

        // Card
        ColumnLayout {
            Layout.fillWidth: true
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            spacing: 0

            OnboardingCardRow {
                id: vaultRow
                Layout.fillWidth: true
                outline: model.sourceOutline
                gradientStart: "7c3aed"
                gradientEnd: "6d28d9"
                symbol: "folder.fill"

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 4

                    Row {
                        Layout.fillWidth: true
                        spacing: 6
                        Text {
                            anchors.baseline: vaultTitle.baseline
                            text: "①"
                            color: OnboardingColor.hex(OnboardingTheme.grey)
                            font.pixelSize: OnboardingTheme.caption
                        }
                        Text {
                            id: vaultTitle
                            width: Math.min(implicitWidth, parent.width - 20)
                            text: model.vaultTitle
                            color: "white"
                            font.pixelSize: OnboardingTheme.headline
                            font.weight: Font.DemiBold
                            elide: Text.ElideRight
                        }
                    }
                    Text {
                        Layout.fillWidth: true
                        text: model.vaultSubtitle
                        color: OnboardingColor.hex(OnboardingTheme.grey)
                        font.pixelSize: OnboardingTheme.caption
                        elide: Text.ElideMiddle
                    }
                }

                Rectangle {
                    implicitWidth: changeLabel.implicitWidth + 24
                    implicitHeight: changeLabel.implicitHeight + 12
                    radius: 6
                    color: model.changeButtonBackground

                    Text {
                        id: changeLabel
                        anchors.centerIn: parent
                        text: model.selectButtonText
                        color: "white"
                        font.pixelSize: OnboardingTheme.subheadline
                        font.weight: Font.Medium
                    }
                    MouseArea {
                        id: changeArea
                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onClicked: model.selectVault()
                    }
                }
            }

            // Connector, on the line through the icons' centres.
            Item {
                Layout.preferredWidth: 20
                Layout.preferredHeight: 30
                Layout.leftMargin: 16 + 22 - 10

                Rectangle {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 2
                    height: 30
                    gradient: Gradient {
                        GradientStop { position: 0.0; color: OnboardingColor.hex("7c3aed") }
                        GradientStop { position: 1.0; color: OnboardingColor.hex("10b981") }
                    }
                }
                Rectangle {
                    anchors.centerIn: parent
                    width: 20
                    height: 20
                    radius: 10
                    color: OnboardingColor.hex("1a1a1a")

                    OnboardingSymbol {
                        anchors.centerIn: parent
                        name: "arrow.down"
                        tint: OnboardingTheme.grey
                        size: 10
                    }
                }
            }

            OnboardingCardRow {
                id: destinationRow
                Layout.fillWidth: true
                outline: model.destOutline
                gradientStart: "10b981"
                gradientEnd: "059669"
                symbol: "folder.badge.plus"

                ColumnLayout {
                    Layout.fillWidth: true
                    spacing: 4

                    Row {
                        Layout.fillWidth: true
                        spacing: 4
                        Text {
                            anchors.baseline: folderText.baseline
                            text: "②"
                            color: OnboardingColor.hex(OnboardingTheme.grey)
                            font.pixelSize: OnboardingTheme.caption
                        }
                        Text {
                            id: vaultText
                            anchors.baseline: folderText.baseline
                            width: Math.min(implicitWidth, 120)
                            text: model.destinationVaultText
                            color: OnboardingColor.hex(OnboardingTheme.grey)
                            font.pixelSize: OnboardingTheme.subheadline
                            elide: Text.ElideRight
                        }
                        Text {
                            anchors.baseline: folderText.baseline
                            text: "/"
                            color: OnboardingColor.hex(OnboardingTheme.grey)
                            font.pixelSize: OnboardingTheme.subheadline
                        }
                        Text {
                            id: folderText
                            width: Math.min(implicitWidth, parent.width - vaultText.width - 40)
                            text: model.destinationFolder
                            color: OnboardingColor.hex("10b981")
                            font.pixelSize: OnboardingTheme.headline
                            font.weight: Font.DemiBold
                            elide: Text.ElideRight
                        }
                    }
                    Text {
                        Layout.fillWidth: true
                        text: "Folder inside your vault"
                        color: OnboardingColor.hex(OnboardingTheme.grey)
                        font.pixelSize: OnboardingTheme.caption
                    }
                }

                Rectangle {
                    visible: model.showsEditButton
                    implicitWidth: 30
                    implicitHeight: 30
                    radius: 15
                    color: model.editButtonBackground

                    OnboardingSymbol {
                        anchors.centerIn: parent
                        name: "pencil"
                        tint: OnboardingTheme.grey
                        size: 14
                    }
                    MouseArea {
                        id: editArea
                        anchors.fill: parent
                        hoverEnabled: true
                        cursorShape: Qt.PointingHandCursor
                        onClicked: model.editFolder()
                    }
                }
            }
        }

        // Bottom: the Continue button in onboarding form; settings save as they go.
        OnboardingActionButton {
            id: continueButton
            visible: model.showsContinue
            Layout.fillWidth: true
            Layout.leftMargin: 32
            Layout.rightMargin: 32
            Layout.bottomMargin: 32
            text: "Continue"
            trailingSymbol: "arrow.right"
            color: model.continueBackground
            enabledForInput: model.continueEnabled
            onClicked: model.continueAction()
        }
        Item {
            visible: !model.showsContinue
            Layout.preferredHeight: 16
        }
    }

    OnboardingFolderDialog {
        id: folderDialog
        onFinished: (okPressed, text) => model.finishEditFolder(okPressed, text)
    }
}
