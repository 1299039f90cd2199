#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The colour helper of the onboarding views: colours are written as hexadecimal text
// ("1a1a1a", "#7c3aed", "abc", "ff7c3aed"). In QML: OnboardingColor.hex("7c3aed").
class OnboardingColor : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit OnboardingColor(QObject* parent = nullptr);

    // 8 digits read alpha, red, green, blue; 6 digits red, green, blue; 3 digits are
    // each multiplied by 17; any other length gives opaque yellow. Characters that are not
    // letters or digits are stripped from both ends first.
    static QColor fromHex(const QString& text);

    Q_INVOKABLE QColor hex(const QString& text) const { return fromHex(text); }
};
