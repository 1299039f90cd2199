#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// Text sizes of the onboarding views (the named text styles) and their secondary grey.
// A C++ singleton: a QML one would be shadowed by the views' own folder.
class OnboardingTheme : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    Q_PROPERTY(int title2 MEMBER title2 CONSTANT)
    Q_PROPERTY(int title3 MEMBER title3 CONSTANT)
    Q_PROPERTY(int body MEMBER body CONSTANT)
    Q_PROPERTY(int headline MEMBER headline CONSTANT)
    Q_PROPERTY(int subheadline MEMBER subheadline CONSTANT)
    Q_PROPERTY(int caption MEMBER caption CONSTANT)
    Q_PROPERTY(QString grey READ grey CONSTANT)

public:
    explicit OnboardingTheme(QObject* parent = nullptr)
        : QObject(parent)
    {
    }

    // The grey of secondary texts and of the disabled Continue button.
    static QString grey() { return QStringLiteral("8e8e93"); }

private:
    int title2 = 22;
    int title3 = 18;
    int body = 13;
    int headline = 13;
    int subheadline = 12;
    int caption = 11;
};
