#pragma once

#include "QuietShell.h"

#include "core/ActivityLog.h"
#include "export/ExportController.h"
#include "link/ChunkAssembler.h"
#include "link/WebSocketServer.h"
#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"

#include <QTemporaryDir>

// Mossbridge's side of an export benchmark: settings, history and the vault in temporary
// folders, the activity log's sink installed as the application has it, and the export
// controller behind a loopback server. The extension connects to port().
class ExportRig {
public:
    // With `vaultParent`, the vault is made in that folder and left there (its owner removes
    // it later); otherwise in a temporary folder removed with the rig.
    explicit ExportRig(ActivityLog::Sink sink, const QString& vaultParent = QString());
    ~ExportRig();
    ExportRig(const ExportRig&) = delete;
    ExportRig& operator=(const ExportRig&) = delete;

    quint16 port() const { return server_.listeningPort(); }
    QString vaultPath() const;

    // Runs this thread's events for `ms` milliseconds.
    static void runEventsFor(int ms);

private:
    QTemporaryDir settings_;
    UserDefaults defaults_ {settings_.filePath(QStringLiteral("Mossbridge.conf"))};
    ConfigManager config_ {defaults_};
    ExportHistoryManager history_ {defaults_, config_};
    ChunkAssembler chunks_;
    QTemporaryDir vaultRoot_;
    QuietShell shell_;
    ExportController controller_;
    WebSocketServer server_ {0, nullptr};
};
