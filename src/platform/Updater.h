#pragma once

#include "platform/UpdateCheckResult.h"

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>

class QNetworkAccessManager;
class UpdaterDelegate;

// Checks the release feed fixed at build time for a newer version than the running one.
// Main thread only.
class Updater : public QObject {
    Q_OBJECT

public:
    // An empty feed address means the build has none.
    Updater(const QString& feedAddress, const QString& currentVersion, UpdaterDelegate* delegate,
        QObject* parent = nullptr);

    // Reads the feed (HTTPS; plain HTTP only on the loopback interface) and reports once, on
    // the main thread.
    void checkForUpdates(std::function<void(const UpdateCheckResult&)> done);

    // The hooks an installer would call before it replaces or restarts the program; nothing
    // installs updates here yet, they stay so that an installer can open the quit policy.
    void willInstallUpdate();
    void willRelaunchApplication();

    // What a feed's text means for the running version.
    static UpdateCheckResult evaluate(const QByteArray& feed, const QString& currentVersion);

private:
    QString feedAddress_;
    QString currentVersion_;
    UpdaterDelegate* delegate_;
    QNetworkAccessManager* network_ = nullptr;
};
