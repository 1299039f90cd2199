#pragma once

#include "export/ExportShell.h"

#include <QList>
#include <QStringList>

// Records what the controller asks of the application shell (main thread only).
class RecordingShell : public ExportShell {
public:
    struct Notification {
        QString title;
        QString body;
        QVariantMap userInfo;
    };
    struct OpenedNote {
        QString vaultName;
        QString filePath;
    };

    void updateStatus(const QString& text) override { statuses.append(text); }
    void showOnboarding(OnboardingMode mode) override { onboarding.append(mode); }
    std::optional<QString> postNotification(const QString& title, const QString& body,
        const QVariantMap& userInfo) override
    {
        notifications.append({title, body, userInfo});
        return notificationError;
    }
    void openViaUrlScheme(const QString& vaultName, const QString& filePath) override
    {
        opened.append({vaultName, filePath});
    }

    QString lastStatus() const { return statuses.isEmpty() ? QString() : statuses.last(); }

    QStringList statuses;
    QList<OnboardingMode> onboarding;
    QList<Notification> notifications;
    QList<OpenedNote> opened;
    std::optional<QString> notificationError;
};
