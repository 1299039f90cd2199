#include "storage/UserPreferences.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace {

const QString kVaultBookmark = QStringLiteral("vaultBookmark");
const QString kDestinationFolder = QStringLiteral("destinationFolder");

} // namespace

QByteArray UserPreferences::toJson() const
{
    QJsonObject object;
    if (vaultBookmark && !vaultBookmark->isEmpty()) {
        object.insert(kVaultBookmark, QString::fromLatin1(vaultBookmark->toBase64()));
    }
    // "" is a real value (the vault's root) and is kept; only a missing folder is left out.
    if (destinationFolder) {
        object.insert(kDestinationFolder, *destinationFolder);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<UserPreferences> UserPreferences::fromJson(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    UserPreferences preferences;

    const QJsonValue bookmark = object.value(kVaultBookmark);
    if (bookmark.isString()) {
        const auto decoded = QByteArray::fromBase64Encoding(
            bookmark.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            return std::nullopt;
        }
        if (!decoded.decoded.isEmpty()) {
            preferences.vaultBookmark = *decoded;
        }
    } else if (!bookmark.isUndefined() && !bookmark.isNull()) {
        return std::nullopt;
    }

    const QJsonValue folder = object.value(kDestinationFolder);
    if (folder.isString()) {
        preferences.destinationFolder = folder.toString();
    } else if (!folder.isUndefined() && !folder.isNull()) {
        return std::nullopt;
    }
    return preferences;
}
