#pragma once

// PUBLIC CONTRACT: keep these signatures.

#include <QByteArray>
#include <QString>

#include <optional>

// The user's two settings, stored as JSON under "UserPreferences".
struct UserPreferences {
    std::optional<QByteArray> vaultBookmark;     // JSON: base64 string
    std::optional<QString> destinationFolder;    // "" means the vault's root

    QByteArray toJson() const;
    static std::optional<UserPreferences> fromJson(const QByteArray& json);
    bool operator==(const UserPreferences&) const = default;
};
