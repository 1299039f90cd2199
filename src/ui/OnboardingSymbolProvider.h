#pragma once

#include <QQuickImageProvider>
#include <QString>

class QQmlEngine;

// The symbols of the onboarding views ("folder.fill", "arrow.down", ...) as tinted images:
// the desktop's icon theme first (its symbolic icons), else the SVG packaged with the program,
// so the window looks right on a bare system. QML: "image://symbol/<hex colour>/<symbol>".
class OnboardingSymbolProvider : public QQuickImageProvider {
public:
    static constexpr const char* providerId = "symbol";

    OnboardingSymbolProvider();

    // Adds the provider to an engine that loads the onboarding views (once per engine).
    static void installOn(QQmlEngine& engine);
    // The freedesktop icon name tried first for a symbol; empty for a symbol without one.
    static QString themeIconName(const QString& symbol);
    // The compiled-in SVG of a symbol.
    static QString fallbackPath(const QString& symbol);

    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};
