#pragma once

#include "export/ExportShell.h"

// Stands in for the tray shell until its windows exist: what the export controller would show
// (status line, onboarding, notifications) goes to standard error.
class ConsoleShell : public ExportShell {
public:
    void updateStatus(const QString& text) override;
    void showOnboarding(OnboardingMode mode) override;
    std::optional<QString> postNotification(const QString& title, const QString& body,
        const QVariantMap& userInfo) override;
    void openViaUrlScheme(const QString& vaultName, const QString& filePath) override;

    static void write(const QString& line);
};
