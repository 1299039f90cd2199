#pragma once

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

// User notifications through the desktop's notification server (org.freedesktop.Notifications
// on the session bus). Each posted notification's user info is kept by its id until the server
// says it closed; a click on one (its "default" action) is reported with that user info.
// Main thread only.
class DesktopNotifications : public QObject {
    Q_OBJECT

public:
    // The numbers the activity log shows for the authorisation.
    enum class AuthorizationStatus {
        notDetermined = 0,
        denied = 1,
        authorized = 2,
    };

    explicit DesktopNotifications(const QString& applicationName,
        QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // A server that answers on the bus reads as authorised, none as denied. Asynchronous:
    // `done` runs later on the main thread.
    void getAuthorizationStatus(std::function<void(AuthorizationStatus)> done);

    // Posts a notification at once. `failed` runs later on the main thread with the reason
    // when the server refuses it or none answers.
    void post(const QString& title, const QString& body, const QVariantMap& userInfo,
        std::function<void(const QString& error)> failed);

    static constexpr const char* service = "org.freedesktop.Notifications";
    static constexpr const char* path = "/org/freedesktop/Notifications";
    static constexpr const char* interface = "org.freedesktop.Notifications";

Q_SIGNALS:
    // The user clicked the notification (its default action).
    void activated(const QVariantMap& userInfo);

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    QString applicationName_;
    QDBusConnection bus_;
    QHash<uint, QVariantMap> userInfoById_;
};
