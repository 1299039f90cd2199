#include "shell/StatusSignalObserver.h"

#include "core/ActivityLog.h"
#include "core/AppIdentity.h"

QString StatusSignalObserver::interfaceName()
{
    return AppIdentity::idWith(".status");
}

StatusSignalObserver::StatusSignalObserver(QDBusConnection bus, QObject* parent)
    : QObject(parent)
{
    if (bus.isConnected()) {
        // Empty service and path: any sender, any object.
        bus.connect(QString(), QString(), interfaceName(), QString::fromLatin1(member), this,
            SLOT(handlePost(QVariantMap)));
    }
}

QString StatusSignalObserver::logLine(const QString& message, const QString& url, const QString& path)
{
    QString line = message;
    if (!url.isEmpty()) {
        line += QStringLiteral(" — ") + url;
    }
    if (!path.isEmpty()) {
        line += QStringLiteral(" (") + path + QStringLiteral(")");
    }
    return line;
}

void StatusSignalObserver::handlePost(const QVariantMap& userInfo)
{
    // A value that is not text reads as absent.
    auto text = [&userInfo](const char* key) {
        const QVariant value = userInfo.value(QString::fromLatin1(key));
        return value.typeId() == QMetaType::QString ? value.toString() : QString();
    };
    const QString message = text("message");
    const QString url = text("url");
    const QString path = text("path");
    appendLog(logLine(message, url, path));
    if (message == QStringLiteral("Active tab URL")) {
        Q_EMIT lastActiveTabURLChanged(url);
    } else if (message == QStringLiteral("No active tab")) {
        Q_EMIT lastActiveTabURLChanged(QString());
    }
}
