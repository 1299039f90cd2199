#pragma once

// PUBLIC CONTRACT: keep these signatures.

#include "storage/ExportHistoryItem.h"

#include <QList>
#include <QObject>
#include <QPair>

#include <functional>
#include <mutex>

class UserDefaults;
class ConfigManager;

// The persisted, observable history of exports, newest first. Used on the main thread.
class ExportHistoryManager : public QObject {
    Q_OBJECT

public:
    static ExportHistoryManager& shared();

    ExportHistoryManager(UserDefaults& defaults, ConfigManager& config,
        std::function<QDateTime()> clock = {});

    // Safe to call from any thread; the signal is delivered in the receiver's thread.
    QList<ExportHistoryItem> history() const;

    void add(const ExportHistoryItem& item);
    QList<ExportHistoryItem> successfulExports() const;
    QList<ExportHistoryItem> recentSuccessfulExports() const;
    QList<QPair<QString, QList<ExportHistoryItem>>> getGroupedHistory() const;
    QString resolvedPath(const QString& finalPath) const;
    bool fileExists(const QString& finalPath) const;
    void refreshFileExistence();
    // Empties the list and removes the stored key.
    void clear();
    // Loads again from the store (tests).
    void reload();

Q_SIGNALS:
    void historyChanged();

private:
    void load();
    void prune(QList<ExportHistoryItem>& items) const;
    void save(const QList<ExportHistoryItem>& items);
    QString resolve(const QString& finalPath) const;
    void markExistence(QList<ExportHistoryItem>& items) const;

    UserDefaults& defaults_;
    ConfigManager& config_;
    std::function<QDateTime()> clock_;
    mutable std::mutex mutex_;
    QList<ExportHistoryItem> history_;
};
