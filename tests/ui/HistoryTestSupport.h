#pragma once

#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <memory>

namespace historytest {

inline ExportHistoryItem makeItem(const QString& title, const QString& finalPath, const QDateTime& when,
    bool success = true, std::optional<QString> error = std::nullopt, std::optional<bool> fileExists = std::nullopt)
{
    ExportHistoryItem item;
    item.title = title;
    item.finalPath = finalPath;
    item.vaultName = success ? QStringLiteral("My Vault") : QStringLiteral("Unknown");
    item.timestamp = when;
    item.success = success;
    item.errorMessage = std::move(error);
    item.fileExists = fileExists;
    return item;
}

// Writes a note under the vault; returns its path inside the vault.
inline QString writeNote(const QString& vault, const QString& relative)
{
    const QString path = vault + QLatin1Char('/') + relative;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write("# note\n");
    }
    return relative;
}

// A history in a temporary store, with a vault folder "My Vault" whose notes tests write.
struct HistoryFixture {
    HistoryFixture()
    {
        QDir().mkpath(vault);
        VaultManager(config).setVaultURL(vault);
        manager = std::make_unique<ExportHistoryManager>(defaults, config, [this] { return now; });
    }

    QString writeNote(const QString& relative) { return historytest::writeNote(vault, relative); }

    QTemporaryDir dir;
    QString vault = dir.path() + QStringLiteral("/My Vault");
    UserDefaults defaults {dir.path() + QStringLiteral("/store.conf")};
    ConfigManager config {defaults};
    QDateTime now {QDate(2025, 5, 15), QTime(12, 0)};
    std::unique_ptr<ExportHistoryManager> manager;
};

} // namespace historytest
