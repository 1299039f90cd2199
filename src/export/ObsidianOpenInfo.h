#pragma once

#include <QString>

// What a success reply and notification need to open a stored note in Obsidian.
struct ObsidianOpenInfo {
    QString vault;        // the vault folder's name
    QString file;         // the note's path inside the vault
    QString obsidianUrl;  // "obsidian://open?vault=...&file=..."
    QString filename;     // the last path component of `file`

    static ObsidianOpenInfo make(const QString& vault, const QString& file);

    // Percent-encodes everything but ASCII letters, digits and ! $ & ' ( ) * + , - . / : ; = ? @ _ ~
    // (the characters a URL query may hold), as UTF-8 %XX.
    static QString encodeQueryValue(const QString& text);

    bool operator==(const ObsidianOpenInfo&) const = default;
};
