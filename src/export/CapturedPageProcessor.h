#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

class ExportController;
class MarkdownConverter;

// Turns a captured chat page into a note in the vault: decodes it, runs the converter (a dry
// run that counts the attachments, then the real run that has the extension fetch them),
// writes note and attachments and reports the outcome.
class CapturedPageProcessor {
public:
    explicit CapturedPageProcessor(ExportController& controller);

    // Not on the main thread. Decodes the page and starts the processing on the pool.
    void processHTML(const QByteArray& data, const QString& requestId, const std::optional<QString>& filename,
        const std::optional<QString>& completionRequestId);
    // Asks the extension for one attachment; the reply arrives as chunks, not awaited here.
    void requestAssetDownload(const QString& url);

    // The note's file name for a requested or suggested one: sanitised, "export" when nothing
    // usable is left, ".md" appended when missing.
    static QString noteFileName(const QString& wanted);

private:
    // One processing run (a pool thread).
    void run(QString html, const QString& requestId, const std::optional<QString>& filename,
        const std::optional<QString>& completionRequestId, const QString& chatUrl);
    void installHooks(MarkdownConverter& converter, const std::optional<QString>& completionRequestId);
    void sendExportProgress(const QString& completionRequestId, qint64 processed, qint64 total);
    void reportMissingVault(const QString& title, const QString& requestId,
        const std::optional<QString>& completionRequestId);
    void reportWritten(const QString& title, const QString& vaultName, const QString& relativePath,
        const std::optional<QString>& completionRequestId);
    void reportWriteFailed(const QString& title, const QString& noteName, const QString& message,
        const std::optional<QString>& completionRequestId);

    ExportController& controller_;
};
