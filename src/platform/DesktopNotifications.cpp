#include "platform/DesktopNotifications.h"

#include "core/AppIdentity.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

DesktopNotifications::DesktopNotifications(const QString& applicationName, QDBusConnection bus, QObject* parent)
    : QObject(parent)
    , applicationName_(applicationName)
    , bus_(std::move(bus))
{
    if (bus_.isConnected()) {
        bus_.connect(QString::fromLatin1(service), QString::fromLatin1(path), QString::fromLatin1(interface),
            QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
        bus_.connect(QString::fromLatin1(service), QString::fromLatin1(path), QString::fromLatin1(interface),
            QStringLiteral("NotificationClosed"), this, SLOT(onNotificationClosed(uint, uint)));
    }
}

void DesktopNotifications::getAuthorizationStatus(std::function<void(AuthorizationStatus)> done)
{
    if (!bus_.isConnected()) {
        QMetaObject::invokeMethod(this, [done] { done(AuthorizationStatus::denied); }, Qt::QueuedConnection);
        return;
    }
    // Asking for the server's identity also starts a server that the bus activates on demand.
    const QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
        QString::fromLatin1(interface), QStringLiteral("GetServerInformation"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [watcher, done] {
        watcher->deleteLater();
        done(watcher->isError() ? AuthorizationStatus::denied : AuthorizationStatus::authorized);
    });
}

void DesktopNotifications::post(const QString& title, const QString& body, const QVariantMap& userInfo,
    std::function<void(const QString& error)> failed)
{
    if (!bus_.isConnected()) {
        const QString reason = QStringLiteral("No session bus to reach the notification server.");
        QMetaObject::invokeMethod(this, [failed, reason] { failed(reason); }, Qt::QueuedConnection);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(service), QString::fromLatin1(path),
        QString::fromLatin1(interface), QStringLiteral("Notify"));
    const QVariantMap hints {
        {QStringLiteral("desktop-entry"), AppIdentity::id()},
        {QStringLiteral("sound-name"), QStringLiteral("message-new-instant")},
    };
    call << applicationName_ << uint(0) << AppIdentity::id() << title << body
         << QStringList {QStringLiteral("default"), QStringLiteral("Open")} << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher, userInfo, failed] {
        watcher->deleteLater();
        const QDBusPendingReply<uint> reply = *watcher;
        if (reply.isError()) {
            failed(reply.error().message());
            return;
        }
        userInfoById_.insert(reply.value(), userInfo);
    });
}

void DesktopNotifications::onActionInvoked(uint id, const QString& actionKey)
{
    if (actionKey != QStringLiteral("default")) {
        return;
    }
    // The server may tell every client about every click: only our own ids count.
    const auto found = userInfoById_.constFind(id);
    if (found != userInfoById_.constEnd()) {
        Q_EMIT activated(found.value());
    }
}

void DesktopNotifications::onNotificationClosed(uint id, uint)
{
    userInfoById_.remove(id);
}
