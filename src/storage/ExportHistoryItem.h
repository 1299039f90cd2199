#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>

// One export in the history; identified by finalPath.
struct ExportHistoryItem {
    QString title;
    QString finalPath;       // relative to the vault, or absolute (starts with "/")
    QString vaultName;       // "Unknown" for failed exports
    QDateTime timestamp;     // stored as seconds since 2001-01-01 00:00:00 UTC
    bool success = false;
    std::optional<QString> errorMessage;
    std::optional<bool> fileExists;  // not stored

    QJsonObject toJson() const;
    static std::optional<ExportHistoryItem> fromJson(const QJsonValue& value);
};
