#pragma once

#include "export/ExportShell.h"

// The shell of a benchmark: no status line, window, notification or browser.
class QuietShell : public ExportShell {
public:
    void updateStatus(const QString&) override { }
    void showOnboarding(OnboardingMode) override { }
    std::optional<QString> postNotification(const QString&, const QString&, const QVariantMap&) override
    {
        return std::nullopt;
    }
    void openViaUrlScheme(const QString&, const QString&) override { }
};
