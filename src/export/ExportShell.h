#pragma once

#include "core/OnboardingMode.h"

#include <QString>
#include <QVariantMap>

#include <optional>

// What the export controller needs from the application shell. The controller calls these on
// the main thread only.
class ExportShell {
public:
    virtual ~ExportShell() = default;

    // The status line of the status menu.
    virtual void updateStatus(const QString& text) = 0;
    // Opens (or reshapes) the onboarding window in the given form.
    virtual void showOnboarding(OnboardingMode mode) = 0;
    // Posts a user notification; returns the failure's text, or nothing when it was posted.
    virtual std::optional<QString> postNotification(const QString& title, const QString& body,
        const QVariantMap& userInfo) = 0;
    // Opens a note of a vault in Obsidian.
    virtual void openViaUrlScheme(const QString& vaultName, const QString& filePath) = 0;
};
