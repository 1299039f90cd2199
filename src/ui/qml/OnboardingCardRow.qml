import QtQuick
import QtQuick.Layouts
import Mossbridge.Ui

// One row of the vault card: a panel with rounded corners and an outline while hovered.
Rectangle {
    id: row

    property alias hovering: hover.hovered
    property color outline: "transparent"
    // The icon circle's gradient and symbol.
    property string gradientStart
    property string gradientEnd
    property string symbol
    default property alias content: layout.data

    implicitHeight: Math.max(44, layout.implicitHeight) + 32
    radius: 12
    color: OnboardingColor.hex("252525")
    border.width: 1
    border.color: outline

    HoverHandler {
        id: hover
    }

    RowLayout {
        id: layout
        anchors.fill: parent
        anchors.margins: 16
        spacing: 12

        Item {
            Layout.preferredWidth: 44
            Layout.preferredHeight: 44

            // A vertical gradient turned by 45 degrees runs from the top-leading to the
            // bottom-trailing corner; the symbol stays upright on top.
            Rectangle {
                anchors.fill: parent
                radius: 22
                rotation: -45
                gradient: Gradient {
                    GradientStop { position: 0.0; color: OnboardingColor.hex(row.gradientStart) }
                    GradientStop { position: 1.0; color: OnboardingColor.hex(row.gradientEnd) }
                }
            }
            OnboardingSymbol {
                anchors.centerIn: parent
                name: row.symbol
                size: 20
            }
        }
    }
}
