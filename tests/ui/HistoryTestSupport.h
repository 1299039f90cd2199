#pragma once

#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QObject>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace historytest {

// Takes the addresses the program hands to the desktop for one URL scheme instead of
// launching anything.
class UrlRecorder : public QObject {
    Q_OBJECT

public:
    explicit UrlRecorder(const QString& scheme)
        : scheme_(scheme)
    {
        QDesktopServices::setUrlHandler(scheme_, this, "open");
    }
    ~UrlRecorder() override { QDesktopServices::unsetUrlHandler(scheme_); }

    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl& url) { urls.append(url); }

private:
    QString scheme_;
};

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
