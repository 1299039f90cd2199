#pragma once

// PUBLIC CONTRACT: keep these signatures.

#include "storage/ExportResult.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <stdexcept>

class ConfigManager;

// Writes one note with its assets into the vault's destination folder.
// Every failure is thrown as a std::exception whose what() is the readable description
// (WriteError for the writer's own errors, std::runtime_error for file-system errors).
class VaultWriter {
public:
    class WriteError : public std::runtime_error {
    public:
        enum class Kind { noVaultSelected, vaultAccessDenied, fileWriteFailed, folderCreationFailed };
        WriteError(Kind kind, const QString& text);
        Kind kind() const { return kind_; }

    private:
        Kind kind_;
    };

    VaultWriter();                                   // uses ConfigManager::shared()
    explicit VaultWriter(ConfigManager& config);

    ExportResult write(const QString& markdown, const QString& filename,
        const QMap<QString, QByteArray>& assets) const;

private:
    ConfigManager& config_;
};
