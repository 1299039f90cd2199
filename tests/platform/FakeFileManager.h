#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QObject>
#include <QStringList>

namespace platformtest {

// org.freedesktop.FileManager1 on its own connection to the session bus, recording what it is
// asked to show; `failing` makes it answer with an error.
class FakeFileManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    explicit FakeFileManager(bool failing = false)
        : connection_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-file-manager")))
        , failing_(failing)
    {
        registered_ = connection_.isConnected()
            && connection_.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), this,
                QDBusConnection::ExportAllSlots)
            && connection_.registerService(QStringLiteral("org.freedesktop.FileManager1"));
    }
    ~FakeFileManager() override
    {
        connection_.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
        connection_.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-file-manager"));
    }

    bool isRegistered() const { return registered_; }

    QList<QStringList> shownItems;
    QStringList startupIds;

public Q_SLOTS:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        shownItems.append(uris);
        startupIds.append(startupId);
        if (failing_) {
            sendErrorReply(QDBusError::Failed, QStringLiteral("cannot show"));
        }
    }

private:
    QDBusConnection connection_;
    bool failing_;
    bool registered_ = false;
};

} // namespace platformtest
