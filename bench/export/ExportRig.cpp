#include "ExportRig.h"

#include "export/MessageDispatcher.h"
#include "storage/VaultManager.h"
#include "storage/VaultWriter.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

ExportRig::ExportRig(ActivityLog::Sink sink, const QString& vaultParent)
    : vaultRoot_(vaultParent.isEmpty() ? QDir::tempPath() + QStringLiteral("/export-rig-XXXXXX")
                                       : vaultParent + QStringLiteral("/export-rig-XXXXXX"))
    , controller_(&shell_, ExportServices {history_, chunks_, VaultManager(config_), VaultWriter(config_)})
{
    // Removing thousands of files makes ext4 slow to create new ones for a while: a vault
    // whose owner outlives this rig is left for the owner to remove.
    vaultRoot_.setAutoRemove(vaultParent.isEmpty());
    QDir().mkpath(vaultPath());
    VaultManager(config_).setVaultURL(vaultPath());
    ActivityLog::shared().setSink(std::move(sink));
    server_.setDelegate(&controller_.dispatcher());
    server_.start();
    controller_.setWebSocketServer(&server_);
}

ExportRig::~ExportRig()
{
    controller_.shutdown();
    server_.setDelegate(nullptr);
    server_.stop();
    ActivityLog::shared().setSink({});
}

QString ExportRig::vaultPath() const
{
    return vaultRoot_.filePath(QStringLiteral("Bench Vault"));
}

void ExportRig::runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}
