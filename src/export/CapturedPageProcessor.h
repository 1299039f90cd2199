#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class ExportResults;
class ExportRuntime;
class ExportSessionState;
class MarkdownConverter;
class QTimer;
class SessionWatchdog;
struct ExportServices;

// Turns a captured chat page into a note in the vault: decodes it, runs the converter (a dry
// run that counts the attachments, then the real run that has the extension fetch them),
// writes note and attachments and reports the outcome. Exports in a row reuse the memory of
// the one before; once processing has been idle for a while it goes back to the system.
class CapturedPageProcessor {
public:
    CapturedPageProcessor(ExportRuntime& runtime, ExportSessionState& state, ExportResults& results,
        SessionWatchdog& watchdog, const ExportServices& services);
    ~CapturedPageProcessor();
    CapturedPageProcessor(const CapturedPageProcessor&) = delete;
    CapturedPageProcessor& operator=(const CapturedPageProcessor&) = delete;

    // Not on the main thread. Decodes the page and starts the processing on the pool.
    void processHTML(const QByteArray& data, const QString& requestId, const std::optional<QString>& filename,
        const std::optional<QString>& completionRequestId);
    // Asks the extension for one attachment; the reply arrives as chunks, not awaited here.
    void requestAssetDownload(const QString& url);

    // The note's file name for a requested or suggested one: sanitised, "export" when nothing
    // usable is left, ".md" appended when missing.
    static QString noteFileName(const QString& wanted);

private:
    // One processing run: the session it belongs to (none for a page handed over outside
    // one), the page's chunk id, the message its reply goes to and the chat's address.
    struct Run {
        std::optional<QString> sessionId;
        QString requestId;
        std::optional<QString> filename;
        std::optional<QString> completionRequestId;
        QString chatUrl;
    };

    // A pool thread.
    void run(QByteArray html, const Run& run);
    void installHooks(MarkdownConverter& converter, const Run& run);
    void sendExportProgress(const Run& run, qint64 processed, qint64 total);
    // Every outcome goes through here: `report` runs on the main thread only while the run's
    // session is still the running one (a stale outcome is logged and changes nothing); then
    // the run's own session ends.
    void postOutcome(const Run& run, std::function<void(bool ownsSession)> report);
    void reportConversionFailed(const Run& run, const QString& message);
    void reportMissingVault(const QString& title, const Run& run);
    void reportWritten(const QString& title, const QString& vaultName, const QString& relativePath, const Run& run);
    void reportWriteFailed(const QString& title, const QString& noteName, const QString& message, const Run& run);

    ExportRuntime& runtime_;
    ExportSessionState& state_;
    ExportResults& results_;
    SessionWatchdog& watchdog_;
    const ExportServices& services_;
    QTimer* memoryReleaseTimer_ = nullptr; // started when a processing run ends
};
