pragma Singleton
import QtQuick

// Text sizes and the secondary grey of the onboarding views.
QtObject {
    readonly property int title2: 22
    readonly property int title3: 18
    readonly property int body: 13
    readonly property int headline: 13
    readonly property int subheadline: 12
    readonly property int caption: 11
    readonly property string grey: "8e8e93"
}
