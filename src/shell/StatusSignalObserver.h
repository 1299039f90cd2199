#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>

// The extension's native side reports its status as a session-bus signal (interface: the
// application id + ".status", member "Post", one a{sv} argument), from any sender on
// any path. Each post becomes an activity-log line; the active tab's address is passed on.
class StatusSignalObserver : public QObject {
    Q_OBJECT

public:
    static QString interfaceName();
    static constexpr const char* member = "Post";

    explicit StatusSignalObserver(QDBusConnection bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);

    // The log line of a post: message, then " — " + url and " (" + path + ")" when not empty.
    static QString logLine(const QString& message, const QString& url, const QString& path);

Q_SIGNALS:
    // "Active tab URL" sets the last active tab to the url, "No active tab" clears it.
    void lastActiveTabURLChanged(const QString& url);

public Q_SLOTS:
    void handlePost(const QVariantMap& userInfo);
};
