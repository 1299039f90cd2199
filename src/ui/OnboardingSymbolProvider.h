#pragma once

#include <QQuickImageProvider>
#include <QString>

class QQmlEngine;

// The symbols of the onboarding views ("folder.fill", "arrow.down", ...) as tinted images
// (SymbolIcons). QML: "image://symbol/<hex colour>/<symbol>".
class OnboardingSymbolProvider : public QQuickImageProvider {
public:
    static constexpr const char* providerId = "symbol";

    OnboardingSymbolProvider();

    // Adds the provider to an engine that loads the onboarding views (once per engine).
    static void installOn(QQmlEngine& engine);

    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;
};
