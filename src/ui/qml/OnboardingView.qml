import QtQuick
import QtQuick.Controls.Basic
import QtQuick.Layouts
import Mossbridge.Ui

// The onboarding and settings window's content: the two steps of the onboarding form, or the
// vault step alone under the settings header.
Rectangle {
    id: root

    property bool settingsForm: false
    readonly property alias viewModel: model

    anchors.fill: parent
    implicitWidth: 480
    implicitHeight: settingsForm ? 460 : 560
    color: OnboardingColor.hex("1a1a1a")

    OnboardingViewModel {
        id: model
        settingsForm: root.settingsForm
    }

    Component.onCompleted: model.appeared()

    ColumnLayout {
        anchors.fill: parent
        spacing: 0

        // Step indicator (onboarding form)
        Item {
            visible: model.showsStepIndicator
            Layout.fillWidth: true
            Layout.preferredHeight: 52

            Row {
                anchors.centerIn: parent
                anchors.verticalCenterOffset: 4
                spacing: 12

                OnboardingStepLabel {
                    number: 1
                    text: "Vault"
                    tint: model.vaultStepColor
                    anchors.verticalCenter: parent.verticalCenter
                }
                Rectangle {
                    width: 40
                    height: 2
                    radius: 1
                    color: model.currentStep > 1 ? OnboardingColor.hex("10b981") : Qt.rgba(1, 1, 1, 0.15)
                    anchors.verticalCenter: parent.verticalCenter
                }
                OnboardingStepLabel {
                    number: 2
                    text: "Extension"
                    tint: model.extensionStepColor
                    anchors.verticalCenter: parent.verticalCenter
                }
            }
        }

        // Settings header (settings form)
        Item {
            visible: !model.showsStepIndicator
            Layout.fillWidth: true
            Layout.preferredHeight: settingsHeader.implicitHeight + 28

            Column {
                id: settingsHeader
                anchors.bottom: parent.bottom
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 6

                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Settings"
                    color: "white"
                    font.pixelSize: OnboardingTheme.title2
                    font.bold: true
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Update your vault and destination folder."
                    color: OnboardingColor.hex(OnboardingTheme.grey)
                    font.pixelSize: OnboardingTheme.body
                }
            }
        }

        StackView {
            id: stack
            objectName: "steps"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            initialItem: vaultStep

            // The new step comes in from the trailing edge, the old one leaves to the leading edge.
            replaceEnter: Transition {
                XAnimator { from: stack.width; to: 0; duration: 300; easing.type: Easing.InOutQuad }
            }
            replaceExit: Transition {
                XAnimator { from: 0; to: -stack.width; duration: 300; easing.type: Easing.InOutQuad }
            }
        }
    }

    Component {
        id: vaultStep
        OnboardingStep1View {
            settingsForm: root.settingsForm
            onContinued: model.vaultStepContinued()
        }
    }
    Component {
        id: extensionStep
        OnboardingStep2View {
            onBackRequested: model.back()
            onFinishRequested: model.finish()
        }
    }

    Connections {
        target: model
        function onCurrentStepChanged() {
            stack.replace(model.currentStep === 1 ? vaultStep : extensionStep)
        }
    }
}
