#pragma once

// PUBLIC CONTRACT: keep these signatures.

#include "storage/ExportResult.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>
#include <optional>
#include <stdexcept>

class CheckedFileWriter;
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

    // Puts one file (an asset or the note) in place; returns the failure's reason, or nothing
    // once the file is complete under its name.
    using FileWriter = std::function<std::optional<QString>(const QString& path, const QByteArray& bytes)>;
    // How a note without assets is written: the bytes go to a temporary file that is synced and
    // renamed over `path` only when complete, so a failure (a full disk) never leaves a cut file
    // behind. Assets go plainly into the note's new folder, the note into a temporary file
    // beside them, and after one sync for the lot the note is renamed into place; any failure
    // removes that folder whole.
    static std::optional<QString> writeFileAtomically(const QString& path, const QByteArray& bytes);
    // Replaces how every file is written (tests inject failures with it); an empty writer
    // restores the default.
    void setFileWriter(FileWriter writer);

private:
    // Through the injected writer if there is one; otherwise atomically on its own without a
    // batch, or into `batch`: plainly, or (`last`) put in place when the batch is finished.
    void writeFile(const QString& path, const QByteArray& bytes, const QString& what,
        CheckedFileWriter* batch = nullptr, bool last = false) const;

    ConfigManager& config_;
    FileWriter fileWriter_;
};
