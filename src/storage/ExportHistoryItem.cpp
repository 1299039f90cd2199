#include "storage/ExportHistoryItem.h"

#include <QJsonValue>
#include <QTimeZone>

#include <cmath>

namespace {

// Seconds from the Unix epoch to 2001-01-01 00:00:00 UTC, the stored dates' epoch.
constexpr qint64 kReferenceEpochMs = 978307200LL * 1000;
// About ±100,000 years: far beyond any real export, well inside QDateTime's range.
constexpr double kMaxAbsSeconds = 3.2e12;

} // namespace

QJsonObject ExportHistoryItem::toJson() const
{
    QJsonObject object;
    object.insert(QStringLiteral("title"), title);
    object.insert(QStringLiteral("finalPath"), finalPath);
    object.insert(QStringLiteral("vaultName"), vaultName);
    const double seconds = timestamp.isValid()
        ? static_cast<double>(timestamp.toMSecsSinceEpoch() - kReferenceEpochMs) / 1000.0
        : 0.0;
    object.insert(QStringLiteral("timestamp"), seconds);
    object.insert(QStringLiteral("success"), success);
    if (errorMessage && !errorMessage->isEmpty()) {
        object.insert(QStringLiteral("errorMessage"), *errorMessage);
    }
    return object;
}

std::optional<ExportHistoryItem> ExportHistoryItem::fromJson(const QJsonValue& value)
{
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = value.toObject();
    const QJsonValue title = object.value(QStringLiteral("title"));
    const QJsonValue finalPath = object.value(QStringLiteral("finalPath"));
    const QJsonValue vaultName = object.value(QStringLiteral("vaultName"));
    const QJsonValue timestamp = object.value(QStringLiteral("timestamp"));
    const QJsonValue success = object.value(QStringLiteral("success"));
    const QJsonValue errorMessage = object.value(QStringLiteral("errorMessage"));
    if (!title.isString() || !finalPath.isString() || !vaultName.isString() || !timestamp.isDouble()
        || !success.isBool()) {
        return std::nullopt;
    }
    const double seconds = timestamp.toDouble();
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxAbsSeconds) {
        return std::nullopt;
    }

    ExportHistoryItem item;
    item.title = title.toString();
    item.finalPath = finalPath.toString();
    item.vaultName = vaultName.toString();
    item.timestamp = QDateTime::fromMSecsSinceEpoch(
        kReferenceEpochMs + std::llround(seconds * 1000.0), QTimeZone::utc());
    item.success = success.toBool();
    if (errorMessage.isString()) {
        item.errorMessage = errorMessage.toString();
    } else if (!errorMessage.isUndefined() && !errorMessage.isNull()) {
        return std::nullopt;
    }
    return item;
}
