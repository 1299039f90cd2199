#include "export/CapturedPageProcessor.h"

#include "convert/MarkdownConverter.h"
#include "core/ActivityLog.h"
#include "core/MemoryTuning.h"
#include "core/UuidText.h"
#include "export/ExportResults.h"
#include "export/ExportRuntime.h"
#include "export/ExportServices.h"
#include "export/ExportSessionState.h"
#include "export/ExportText.h"
#include "export/SessionWatchdog.h"
#include "link/ChunkAssembler.h"
#include "storage/ExportHistoryManager.h"

#include <QDateTime>
#include <QScopeGuard>
#include <QThreadPool>
#include <QTimer>

CapturedPageProcessor::CapturedPageProcessor(ExportRuntime& runtime, ExportSessionState& state, ExportResults& results,
    SessionWatchdog& watchdog, const ExportServices& services)
    : runtime_(runtime)
    , state_(state)
    , results_(results)
    , watchdog_(watchdog)
    , services_(services)
{
    memoryReleaseTimer_ = new QTimer(runtime_.mainContext());
    memoryReleaseTimer_->setSingleShot(true);
    memoryReleaseTimer_->setInterval(runtime_.timings().memoryReleaseDelay);
    QObject::connect(memoryReleaseTimer_, &QTimer::timeout, runtime_.mainContext(), [] { releaseFreeMemory(); });
}

CapturedPageProcessor::~CapturedPageProcessor()
{
    delete memoryReleaseTimer_;
}

void CapturedPageProcessor::processHTML(const QByteArray& data, const QString& requestId,
    const std::optional<QString>& filename, const std::optional<QString>& completionRequestId)
{
    // The converter reads the bytes themselves; the page's text is never copied out whole.
    if (!ExportText::isUtf8(data)) {
        appendLog(QStringLiteral("[ERR] Failed to decode HTML from data"));
        if (completionRequestId) {
            results_.sendErrorResponse(*completionRequestId, QStringLiteral("Failed to decode HTML"));
        }
        runtime_.updateStatus(QStringLiteral("Ready"));
        return;
    }
    // The chat's address and the session are main-thread state; read them there and start the
    // work from there, so the server thread never waits for the main thread.
    Run run {std::nullopt, requestId, filename, completionRequestId, QString()};
    runtime_.postMain([this, html = data, run]() mutable {
        run.chatUrl = state_.lastActiveTabURL();
        run.sessionId = state_.beginProcessing(run.completionRequestId);
        if (run.sessionId) {
            watchdog_.processingStarted();
        }
        runtime_.startBackground([this, html = std::move(html), run]() mutable {
            this->run(std::move(html), run);
            runtime_.postMain([this] { memoryReleaseTimer_->start(); });
        });
    });
}

void CapturedPageProcessor::requestAssetDownload(const QString& url)
{
    IPCMessage download = ExportText::appMessage(QStringLiteral("request"), QStringLiteral("download"), UuidText::fresh());
    IPCArgs args;
    args.url = url;
    download.args = args;
    runtime_.send(download);
    appendLog(QStringLiteral("[SERVER] Sent download request for: ") + url);
}

QString CapturedPageProcessor::noteFileName(const QString& wanted)
{
    QString noteName = MarkdownConverter::sanitizeFilename(wanted);
    if (noteName.isEmpty() || noteName == QStringLiteral(".") || noteName == QStringLiteral("..")) {
        noteName = QStringLiteral("export");
    }
    if (!noteName.endsWith(QStringLiteral(".md"))) {
        noteName += QStringLiteral(".md");
    }
    return noteName;
}

void CapturedPageProcessor::sendExportProgress(const Run& run, qint64 processed, qint64 total)
{
    const qint64 percent = total <= 0
        ? 0
        : static_cast<qint64>(static_cast<double>(processed) / static_cast<double>(total) * 100.0);
    UICommand ui;
    ui.type = QStringLiteral("progress");
    ui.message = QStringLiteral("Exporting... ") + QString::number(percent) + QStringLiteral("%");
    ui.current = processed;
    ui.total = total;
    runtime_.postMain([this, run, ui] {
        // A replaced export's progress would show on the panel of the one running now.
        const std::optional<ExportSession>& session = state_.currentExport();
        if (run.sessionId && (!session || session->sessionId != *run.sessionId)) {
            return;
        }
        results_.sendPanel(*run.completionRequestId, ui);
    });
}

void CapturedPageProcessor::installHooks(MarkdownConverter& converter, const Run& run)
{
    converter.logger = [](const QString& text) { appendLog(QStringLiteral("[CONVERTER] ") + text); };
    converter.onProgress = [this, run](qint64 processed, qint64 total) {
        if (run.completionRequestId) {
            sendExportProgress(run, processed, total);
        }
    };
    converter.onRequestDownload = [this, &converter](const QString& url) {
        requestAssetDownload(url);
        // Nothing can answer while no extension is connected (the answer path runs right
        // here, with the download already registered).
        if (!state_.isExtensionConnected()) {
            converter.saveDownloadedFile(url, std::nullopt, ExportText::connectionGone());
        }
    };
    if (const auto& waits = runtime_.timings().converterWaits) {
        converter.setWaitDurations(waits->deadline, waits->stall, waits->poll);
    }
}

namespace {

// While the real run waits for the extension's answers, its thread does not count against the
// pool: a new export's work never waits for a thread held by a wait.
class WaitOutsidePool {
public:
    explicit WaitOutsidePool(QThreadPool& pool)
        : pool_(pool)
    {
        pool_.releaseThread();
    }
    ~WaitOutsidePool() { pool_.reserveThread(); }
    WaitOutsidePool(const WaitOutsidePool&) = delete;
    WaitOutsidePool& operator=(const WaitOutsidePool&) = delete;

private:
    QThreadPool& pool_;
};

} // namespace

void CapturedPageProcessor::run(QByteArray html, const Run& run)
{
    if (runtime_.isShuttingDown()) {
        return;
    }

    std::shared_ptr<MarkdownConverter> converter;
    try {
        converter = std::make_shared<MarkdownConverter>(html, std::nullopt, std::nullopt,
            run.chatUrl.isEmpty() ? std::nullopt : std::optional<QString>(run.chatUrl));
    } catch (const std::exception& error) {
        reportConversionFailed(run, QString::fromUtf8(error.what()));
        return;
    }
    html.clear();
    state_.startConversion(converter);
    const auto removeConversion = qScopeGuard([this, &converter] { state_.removeConversion(converter); });

    const QString noteName = noteFileName(run.filename.value_or(converter->suggestedFilename()));
    converter->updateFilename(noteName);
    installHooks(*converter, run);
    const QString title = converter->title();
    appendLog(QStringLiteral("Starting conversion for: ") + title);
    runtime_.postMain([this, sessionId = run.sessionId, title] { state_.setChatTitle(sessionId, title); });

    if (!services_.vault.getVaultURL()) {
        services_.chunks.clear(run.requestId);
        state_.clearActiveConverter(converter);
        reportMissingVault(title, run);
        return;
    }

    QString note;
    try {
        converter->setTotalAssets(0);
        converter->process(true);
        appendLog(QStringLiteral("[INFO] Scanned ") + QString::number(converter->totalAssets())
            + QStringLiteral(" assets to download"));
        const WaitOutsidePool waiting(runtime_.pool());
        note = converter->process(false);
    } catch (const std::exception& error) {
        reportConversionFailed(run, QString::fromUtf8(error.what()));
        return;
    }
    appendLog(QStringLiteral("[INFO] Generated Markdown in-memory for: ") + noteName);
    services_.chunks.clear(run.requestId);
    state_.clearActiveConverter(converter);

    // An export that ended or was replaced meanwhile writes nothing: its retry will.
    bool current = false;
    runtime_.runMainSync([&] { current = state_.isCurrentOutcome(run.sessionId, QStringLiteral("note ") + noteName); });
    if (!current) {
        return;
    }
    try {
        const ExportResult result = services_.writer.write(note, noteName, converter->assets());
        reportWritten(title, result.vaultName, result.relativePath, run);
    } catch (const std::exception& error) {
        reportWriteFailed(title, noteName, QString::fromUtf8(error.what()), run);
    }
    appendLog(QStringLiteral("✅ Export Processed: ") + noteName);
}

void CapturedPageProcessor::postOutcome(const Run& run, std::function<void(bool ownsSession)> report)
{
    runtime_.postMain([this, sessionId = run.sessionId, report = std::move(report)] {
        if (!state_.isCurrentOutcome(sessionId, QStringLiteral("export result"))) {
            return;
        }
        const bool ownsSession = sessionId.has_value();
        report(ownsSession);
        if (ownsSession) {
            state_.endSession();
        }
        results_.showReadyWhenIdle();
    });
}

void CapturedPageProcessor::reportConversionFailed(const Run& run, const QString& message)
{
    appendLog(QStringLiteral("❌ Conversion failed: ") + message);
    postOutcome(run, [this, message, completionRequestId = run.completionRequestId](bool ownsSession) {
        if (completionRequestId) {
            results_.sendErrorResult(*completionRequestId, message, ownsSession, std::nullopt);
        }
    });
}

void CapturedPageProcessor::reportMissingVault(const QString& title, const Run& run)
{
    appendLog(ExportText::configureVault());
    postOutcome(run, [this, title, completionRequestId = run.completionRequestId](bool ownsSession) {
        if (completionRequestId) {
            results_.sendErrorResult(*completionRequestId, ExportText::configureVault(),
                ownsSession, std::nullopt);
        }
        if (state_.isTabBackgrounded()) {
            results_.scheduleErrorNotification(title,
                QStringLiteral("Export Failed: ") + ExportText::configureVault(), std::nullopt, std::nullopt);
        }
    });
}

void CapturedPageProcessor::reportWritten(const QString& title, const QString& vaultName, const QString& relativePath,
    const Run& run)
{
    const ObsidianOpenInfo info = ObsidianOpenInfo::make(vaultName, relativePath);
    postOutcome(run, [this, title, info, completionRequestId = run.completionRequestId](bool ownsSession) {
        ExportHistoryItem item;
        item.title = title;
        item.finalPath = info.file;
        item.vaultName = info.vault;
        item.timestamp = QDateTime::currentDateTimeUtc();
        item.success = true;
        services_.history.add(item);
        appendLog(QStringLiteral("✅ Pushed to Obsidian"));
        results_.scheduleSuccessNotification(title, info);
        if (completionRequestId) {
            results_.sendSuccessResult(*completionRequestId, info, ownsSession);
        }
    });
}

void CapturedPageProcessor::reportWriteFailed(const QString& title, const QString& noteName, const QString& message,
    const Run& run)
{
    postOutcome(run, [this, title, noteName, message, completionRequestId = run.completionRequestId](bool ownsSession) {
        results_.addFailedHistoryItem(title, noteName, message);
        appendLog(QStringLiteral("Export failed: ") + message);
        if (state_.isTabBackgrounded()) {
            results_.scheduleErrorNotification(title, QStringLiteral("Export failed: ") + message,
                std::nullopt, std::nullopt);
        }
        if (completionRequestId) {
            results_.sendErrorResult(*completionRequestId, message, ownsSession, std::nullopt);
        }
    });
}
