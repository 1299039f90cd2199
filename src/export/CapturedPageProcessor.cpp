#include "export/CapturedPageProcessor.h"

#include "convert/MarkdownConverter.h"
#include "core/ActivityLog.h"
#include "export/ExportController.h"
#include "export/ExportResults.h"
#include "export/ExportText.h"
#include "link/ChunkAssembler.h"
#include "storage/ExportHistoryManager.h"
#include "storage/VaultManager.h"
#include "storage/VaultWriter.h"

#include <QDateTime>

CapturedPageProcessor::CapturedPageProcessor(ExportController& controller)
    : controller_(controller)
{
}

void CapturedPageProcessor::processHTML(const QByteArray& data, const QString& requestId,
    const std::optional<QString>& filename, const std::optional<QString>& completionRequestId)
{
    std::optional<QString> html = ExportText::decodeUtf8(data);
    if (!html) {
        appendLog(QStringLiteral("[ERR] Failed to decode HTML from data"));
        if (completionRequestId) {
            controller_.results_->sendErrorResponse(*completionRequestId, QStringLiteral("Failed to decode HTML"));
        }
        controller_.updateStatus(QStringLiteral("Ready"));
        return;
    }
    // The chat's address is main-thread state; read it there and start the work from there,
    // so the server thread never waits for the main thread.
    controller_.postMain([this, html = std::move(*html), requestId, filename, completionRequestId]() mutable {
        const QString chatUrl = controller_.lastActiveTabURL_;
        controller_.startBackground([this, html = std::move(html), requestId, filename, completionRequestId,
                                        chatUrl]() mutable {
            run(std::move(html), requestId, filename, completionRequestId, chatUrl);
            controller_.processingEnded();
        });
    });
}

void CapturedPageProcessor::requestAssetDownload(const QString& url)
{
    IPCMessage download = ExportText::appMessage(QStringLiteral("request"), QStringLiteral("download"), ExportText::freshId());
    IPCArgs args;
    args.url = url;
    download.args = args;
    controller_.send(download);
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

void CapturedPageProcessor::sendExportProgress(const QString& completionRequestId, qint64 processed, qint64 total)
{
    const qint64 percent = total <= 0
        ? 0
        : static_cast<qint64>(static_cast<double>(processed) / static_cast<double>(total) * 100.0);
    UICommand ui;
    ui.type = QStringLiteral("progress");
    ui.message = QStringLiteral("Exporting... ") + QString::number(percent) + QStringLiteral("%");
    ui.current = processed;
    ui.total = total;
    controller_.postMain([this, completionRequestId, ui] { controller_.results_->sendPanel(completionRequestId, ui); });
}

void CapturedPageProcessor::installHooks(MarkdownConverter& converter, const std::optional<QString>& completionRequestId)
{
    converter.logger = [](const QString& text) { appendLog(QStringLiteral("[CONVERTER] ") + text); };
    converter.onProgress = [this, completionRequestId](qint64 processed, qint64 total) {
        if (completionRequestId) {
            sendExportProgress(*completionRequestId, processed, total);
        }
    };
    converter.onRequestDownload = [this](const QString& url) { requestAssetDownload(url); };
    if (const auto& waits = controller_.timings_.converterWaits) {
        converter.setWaitDurations(waits->deadline, waits->stall, waits->poll);
    }
}

void CapturedPageProcessor::run(QString html, const QString& requestId, const std::optional<QString>& filename,
    const std::optional<QString>& completionRequestId, const QString& chatUrl)
{
    if (controller_.isShuttingDown()) {
        return;
    }
    controller_.postMain([this] {
        if (controller_.currentExport_) {
            controller_.currentExport_->status = QStringLiteral("downloading");
        }
    });

    const auto conversionFailed = [&](const QString& message) {
        appendLog(QStringLiteral("❌ Conversion failed: ") + message);
        if (completionRequestId) {
            controller_.results_->sendErrorResponse(*completionRequestId, message);
        }
        controller_.updateStatus(QStringLiteral("Ready"));
    };

    std::shared_ptr<MarkdownConverter> converter;
    try {
        converter = std::make_shared<MarkdownConverter>(html, std::nullopt, std::nullopt,
            chatUrl.isEmpty() ? std::nullopt : std::optional<QString>(chatUrl));
    } catch (const std::exception& error) {
        conversionFailed(QString::fromUtf8(error.what()));
        return;
    }
    html.clear();
    controller_.setActiveConverter(converter);

    const QString noteName = noteFileName(filename.value_or(converter->suggestedFilename()));
    converter->updateFilename(noteName);
    installHooks(*converter, completionRequestId);
    const QString title = converter->title();
    appendLog(QStringLiteral("Starting conversion for: ") + title);

    if (!VaultManager().getVaultURL()) {
        reportMissingVault(title, requestId, completionRequestId);
        return;
    }

    QString note;
    try {
        converter->setTotalAssets(0);
        converter->process(true);
        appendLog(QStringLiteral("[INFO] Scanned ") + QString::number(converter->totalAssets())
            + QStringLiteral(" assets to download"));
        note = converter->process(false);
    } catch (const std::exception& error) {
        conversionFailed(QString::fromUtf8(error.what()));
        return;
    }
    appendLog(QStringLiteral("[INFO] Generated Markdown in-memory for: ") + noteName);
    ChunkAssembler::shared().clear(requestId);
    controller_.setActiveConverter(nullptr);

    try {
        const ExportResult result = VaultWriter().write(note, noteName, converter->assets());
        reportWritten(title, result.vaultName, result.relativePath, completionRequestId);
    } catch (const std::exception& error) {
        reportWriteFailed(title, noteName, QString::fromUtf8(error.what()), completionRequestId);
    }
    appendLog(QStringLiteral("✅ Export Processed: ") + noteName);
}

void CapturedPageProcessor::reportMissingVault(const QString& title, const QString& requestId,
    const std::optional<QString>& completionRequestId)
{
    appendLog(ExportController::configureVaultMessage());
    if (completionRequestId) {
        controller_.results_->sendErrorResponse(*completionRequestId, ExportController::configureVaultMessage());
    }
    if (controller_.isTabBackgrounded()) {
        controller_.postMain([this, title] {
            controller_.results_->scheduleErrorNotification(title,
                QStringLiteral("Export Failed: ") + ExportController::configureVaultMessage(), std::nullopt, std::nullopt);
        });
    }
    ChunkAssembler::shared().clear(requestId);
    controller_.setActiveConverter(nullptr);
    controller_.updateStatus(QStringLiteral("Ready"));
}

void CapturedPageProcessor::reportWritten(const QString& title, const QString& vaultName, const QString& relativePath,
    const std::optional<QString>& completionRequestId)
{
    const ObsidianOpenInfo info = ObsidianOpenInfo::make(vaultName, relativePath);
    controller_.postMain([this, title, info, completionRequestId] {
        ExportHistoryItem item;
        item.title = title;
        item.finalPath = info.file;
        item.vaultName = info.vault;
        item.timestamp = QDateTime::currentDateTimeUtc();
        item.success = true;
        ExportHistoryManager::shared().add(item);
        appendLog(QStringLiteral("✅ Pushed to Obsidian"));
        controller_.results_->scheduleSuccessNotification(title, info);
        if (completionRequestId) {
            controller_.results_->sendSuccessResponse(*completionRequestId, info);
        }
        controller_.updateStatus(QStringLiteral("Ready"));
    });
}

void CapturedPageProcessor::reportWriteFailed(const QString& title, const QString& noteName, const QString& message,
    const std::optional<QString>& completionRequestId)
{
    controller_.postMain([title, noteName, message] {
        ExportHistoryItem item;
        item.title = title;
        item.finalPath = noteName;
        item.vaultName = QStringLiteral("Unknown");
        item.timestamp = QDateTime::currentDateTimeUtc();
        item.success = false;
        item.errorMessage = message;
        ExportHistoryManager::shared().add(item);
        appendLog(QStringLiteral("Export failed: ") + message);
    });
    if (controller_.isTabBackgrounded()) {
        controller_.postMain([this, title, message] {
            controller_.results_->scheduleErrorNotification(title, QStringLiteral("Export failed: ") + message,
                std::nullopt, std::nullopt);
        });
    }
    if (completionRequestId) {
        controller_.results_->sendErrorResponse(*completionRequestId, message);
    }
    controller_.updateStatus(QStringLiteral("Ready"));
}
