#include "storage/ExportHistoryManager.h"

#include "core/ActivityLog.h"
#include "core/StorageKeys.h"
#include "storage/ConfigManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>

#include <cstdio>

namespace {

const QString kHistoryKey = QString(StorageKeys::exportHistory);
// Where a stored history that did not fully decode is kept, so the next save loses nothing.
const QString kUnreadableKey = kHistoryKey + QStringLiteral(".unreadable");
constexpr qsizetype kRecentCount = 5;

// Standard output and the activity log.
void logLine(const QString& message)
{
    const QByteArray bytes = (message + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
    appendLog(message);
}

// A relative path that could not be placed in a vault says nothing about the current
// directory, so it is never taken as found there.
bool existsAt(const QString& resolved)
{
    return resolved.startsWith(QLatin1Char('/')) && QFileInfo::exists(resolved);
}

} // namespace

ExportHistoryManager& ExportHistoryManager::shared()
{
    static ExportHistoryManager instance(UserDefaults::standard(), ConfigManager::shared());
    return instance;
}

ExportHistoryManager::ExportHistoryManager(UserDefaults& defaults, ConfigManager& config,
    std::function<QDateTime()> clock)
    : defaults_(defaults)
    , config_(config)
    , clock_(clock ? std::move(clock) : [] { return QDateTime::currentDateTime(); })
{
    load();
}

QList<ExportHistoryItem> ExportHistoryManager::history() const
{
    std::lock_guard lock(mutex_);
    return history_;
}

void ExportHistoryManager::load()
{
    QList<ExportHistoryItem> items;
    const auto data = defaults_.data(kHistoryKey);
    if (data && !data->isEmpty()) {
        // An entry another version wrote in a shape this one does not know costs only that
        // entry; the text as stored is kept aside before the next save replaces it.
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(*data, &error);
        if (error.error == QJsonParseError::NoError && document.isArray()) {
            const QJsonArray entries = document.array();
            for (const QJsonValue& value : entries) {
                if (auto item = ExportHistoryItem::fromJson(value)) {
                    items.append(*item);
                }
            }
            const qsizetype skipped = entries.size() - items.size();
            if (skipped > 0) {
                defaults_.setData(kUnreadableKey, *data);
                logLine(QStringLiteral("[ExportHistory] load skipped %1 of %2 entries that could not be read; "
                                       "the stored history is kept under %3")
                            .arg(skipped)
                            .arg(entries.size())
                            .arg(kUnreadableKey));
            }
        } else {
            defaults_.setData(kUnreadableKey, *data);
            logLine(QStringLiteral("[ExportHistory] load skipped all entries: the stored history is not a JSON "
                                   "array; it is kept under %1")
                        .arg(kUnreadableKey));
        }
    }
    markExistence(items);
    // Pruned in memory only; the store is written at the next change.
    prune(items);
    {
        std::lock_guard lock(mutex_);
        history_ = std::move(items);
    }
    Q_EMIT historyChanged();
}

void ExportHistoryManager::reload()
{
    load();
}

void ExportHistoryManager::prune(QList<ExportHistoryItem>& items) const
{
    const QDateTime cutoff = clock_().toLocalTime().addMonths(-3);
    if (!cutoff.isValid()) {
        return;  // no cutoff can be formed: keep everything
    }
    items.removeIf([&cutoff](const ExportHistoryItem& item) { return item.timestamp < cutoff; });
}

void ExportHistoryManager::save(const QList<ExportHistoryItem>& items)
{
    QJsonArray array;
    for (const ExportHistoryItem& item : items) {
        array.append(item.toJson());
    }
    defaults_.setData(kHistoryKey, QJsonDocument(array).toJson(QJsonDocument::Compact));
}

void ExportHistoryManager::add(const ExportHistoryItem& item)
{
    logLine(QStringLiteral("[ExportHistory] add finalPath=") + item.finalPath);
    {
        std::lock_guard lock(mutex_);
        history_.removeIf([&item](const ExportHistoryItem& old) { return old.finalPath == item.finalPath; });
        history_.prepend(item);
        prune(history_);
        save(history_);
    }
    Q_EMIT historyChanged();
}

QList<ExportHistoryItem> ExportHistoryManager::successfulExports() const
{
    QList<ExportHistoryItem> result;
    for (const ExportHistoryItem& item : history()) {
        if (item.success) {
            result.append(item);
        }
    }
    return result;
}

QList<ExportHistoryItem> ExportHistoryManager::recentSuccessfulExports() const
{
    return successfulExports().mid(0, kRecentCount);
}

QList<QPair<QString, QList<ExportHistoryItem>>> ExportHistoryManager::getGroupedHistory() const
{
    const QDate today = clock_().toLocalTime().date();
    const QDate yesterday = today.addDays(-1);
    const QLocale english(QLocale::English, QLocale::UnitedStates);

    QList<QPair<QString, QList<ExportHistoryItem>>> groups;
    for (const ExportHistoryItem& item : history()) {
        const QDate day = item.timestamp.toLocalTime().date();
        QString label;
        if (day == today) {
            label = QStringLiteral("Today");
        } else if (day == yesterday) {
            label = QStringLiteral("Yesterday");
        } else {
            label = english.toString(day, QStringLiteral("MMMM yyyy"));
        }
        if (!groups.isEmpty() && groups.last().first == label) {
            groups.last().second.append(item);
        } else {
            groups.append({label, {item}});
        }
    }
    return groups;
}

namespace {

QString joinVault(const std::optional<QString>& vault, const QString& finalPath)
{
    if (finalPath.startsWith(QLatin1Char('/')) || !vault) {
        return finalPath;
    }
    return *vault + QLatin1Char('/') + finalPath;
}

} // namespace

QString ExportHistoryManager::resolve(const QString& finalPath) const
{
    if (finalPath.startsWith(QLatin1Char('/'))) {
        return finalPath;
    }
    return joinVault(VaultManager(config_).getVaultURL(), finalPath);
}

void ExportHistoryManager::markExistence(QList<ExportHistoryItem>& items) const
{
    if (items.isEmpty()) {
        return;
    }
    // The vault is resolved once for the whole list, not once per entry.
    const auto vault = VaultManager(config_).getVaultURL();
    for (ExportHistoryItem& item : items) {
        item.fileExists = existsAt(joinVault(vault, item.finalPath));
    }
}

QString ExportHistoryManager::resolvedPath(const QString& finalPath) const
{
    return resolve(finalPath);
}

bool ExportHistoryManager::fileExists(const QString& finalPath) const
{
    const QString resolved = resolve(finalPath);
    const bool exists = existsAt(resolved);
    logLine(QStringLiteral("[ExportHistory] fileExists path=") + finalPath + QStringLiteral(" resolved=")
        + resolved + QStringLiteral(" exists=") + (exists ? QStringLiteral("true") : QStringLiteral("false")));
    return exists;
}

void ExportHistoryManager::refreshFileExistence()
{
    QList<ExportHistoryItem> items = history();
    markExistence(items);
    {
        std::lock_guard lock(mutex_);
        // Only the flags change; entries added meanwhile keep theirs.
        for (ExportHistoryItem& current : history_) {
            for (const ExportHistoryItem& checked : items) {
                if (checked.finalPath == current.finalPath) {
                    current.fileExists = checked.fileExists;
                    break;
                }
            }
        }
    }
    Q_EMIT historyChanged();
}

void ExportHistoryManager::clear()
{
    {
        std::lock_guard lock(mutex_);
        history_.clear();
        defaults_.remove(kHistoryKey);
    }
    Q_EMIT historyChanged();
}
