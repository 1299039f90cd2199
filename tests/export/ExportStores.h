#pragma once

#include "export/ExportServices.h"
#include "link/ChunkAssembler.h"
#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"

#include <QTemporaryDir>

// Settings, history and a chunk store of a test's own, on a temporary folder, and the
// services an export controller gets from them.
struct ExportStores {
    QTemporaryDir settingsDir;
    UserDefaults defaults {settingsDir.filePath(QStringLiteral("Mossbridge.conf"))};
    ConfigManager config {defaults};
    ExportHistoryManager history {defaults, config};
    ChunkAssembler chunks;

    ExportServices services() { return ExportServices {history, chunks, VaultManager(config), VaultWriter(config)}; }
};
