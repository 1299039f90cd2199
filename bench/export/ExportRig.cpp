#include "ExportRig.h"

#include "export/MessageDispatcher.h"
#include "storage/VaultManager.h"
#include "storage/VaultWriter.h"

#include <QDir>
#include <QEventLoop>
#include <QTimer>

ExportRig::ExportRig(ActivityLog::Sink sink)
    : controller_(&shell_, ExportServices {history_, chunks_, VaultManager(config_), VaultWriter(config_)})
{
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
