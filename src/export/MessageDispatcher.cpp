#include "export/MessageDispatcher.h"

#include "convert/MarkdownConverter.h"
#include "core/ActivityLog.h"
#include "core/Graphemes.h"
#include "export/CapturedPageProcessor.h"
#include "export/ExportController.h"
#include "export/ExportResults.h"
#include "export/ExportShell.h"
#include "export/ExportText.h"
#include "export/RequestExchange.h"
#include "export/SessionWatchdog.h"
#include "link/Base64.h"
#include "link/ChunkAssembler.h"
#include "storage/AppConfig.h"
#include "storage/ExportHistoryManager.h"
#include "storage/VaultManager.h"

#include <QHash>

#include <functional>

MessageDispatcher::MessageDispatcher(ExportController& controller)
    : controller_(controller)
{
}

void MessageDispatcher::receiveFrame(const QByteArray& bytes)
{
    if (std::optional<IPCMessage> message = IPCMessage::decode(bytes)) {
        handleIPCMessage(*message);
        return;
    }
    if (std::optional<QString> text = ExportText::decodeUtf8(bytes)) {
        const std::optional<QString> cut = Graphemes::cut(*text, 200);
        appendLog(QStringLiteral("WS-RCV: ") + (cut ? *cut + QStringLiteral("...") : *text));
    } else {
        appendLog(QStringLiteral("[WS-SERVER] RCV: ") + QString::number(bytes.size()) + QStringLiteral(" bytes (Binary)"));
    }
}

void MessageDispatcher::logServerLine(const QString& line)
{
    // The per-message read and decode lines would flood the log.
    if (line.startsWith(QStringLiteral("ReadLoop:")) || line.startsWith(QStringLiteral("ProcessMessage:"))) {
        return;
    }
    appendLog(QStringLiteral("[WS-LOG] ") + line);
}

void MessageDispatcher::reply(const IPCMessage& incoming, const QMap<QString, QString>& result, const QString& command)
{
    IPCMessage response = ExportText::appMessage(QStringLiteral("response"),
        command.isEmpty() ? incoming.command : command, incoming.request_id);
    response.result = result;
    controller_.send(response);
}

void MessageDispatcher::handleIPCMessage(const IPCMessage& message)
{
    using Handler = std::function<void(MessageDispatcher&, const IPCMessage&)>;
    static const QHash<QString, Handler> handlers {
        {QStringLiteral("scroll_complete"), &MessageDispatcher::handleScrollCompletion},
        {QStringLiteral("scroll_error"), &MessageDispatcher::handleScrollCompletion},
        {QStringLiteral("check_destination"), &MessageDispatcher::handleCheckDestination},
        {QStringLiteral("handshake"), &MessageDispatcher::handleHandshake},
        {QStringLiteral("log"), &MessageDispatcher::handleLog},
        {QStringLiteral("saveDomHtmlChunk"), &MessageDispatcher::handleChunk},
        {QStringLiteral("save_file"), &MessageDispatcher::handleChunk},
        {QStringLiteral("save_file_complete"), &MessageDispatcher::handleSaveFileComplete},
        {QStringLiteral("save_file_error"), &MessageDispatcher::handleSaveFileError},
        {QStringLiteral("exportMarkdown"), &MessageDispatcher::handleExportMarkdown},
        {QStringLiteral("capture_complete"), [](MessageDispatcher& self, const IPCMessage& m) {
             self.handleCaptureAnnounced(m, QStringLiteral("Capture Complete (%1 bytes). Processing..."),
                 QStringLiteral("[ERR] capture_complete called but data incomplete for RID: "));
         }},
        {QStringLiteral("saveDomHtmlWrite"), [](MessageDispatcher& self, const IPCMessage& m) {
             self.handleCaptureAnnounced(m, QStringLiteral("HTML Assembly Complete (%1 bytes). Processing..."),
                 QStringLiteral("[ERR] saveDomHtmlWrite called but data incomplete for RID: "));
         }},
        {QStringLiteral("get_session_status"), &MessageDispatcher::handleSessionStatus},
        {QStringLiteral("invoke_export"), [](MessageDispatcher& self, const IPCMessage& m) {
             ExportController& controller = self.controller_;
             controller.postMain([&controller, m] { controller.handleInvokeExport(m); });
         }},
        {QStringLiteral("request_abort"), [](MessageDispatcher& self, const IPCMessage& m) {
             ExportController& controller = self.controller_;
             controller.postMain([&controller, args = m.args] { controller.handleRequestAbort(args); });
         }},
        {QStringLiteral("abort_export"), [](MessageDispatcher& self, const IPCMessage& m) {
             ExportController& controller = self.controller_;
             controller.postMain([&controller, args = m.args] { controller.handleAbortExport(args); });
         }},
        {QStringLiteral("reset_timeout"), [](MessageDispatcher& self, const IPCMessage&) { self.handleResetTimeout(); }},
        {QStringLiteral("update_tab_status"), &MessageDispatcher::handleUpdateTabStatus},
        {QStringLiteral("open_result"), [](MessageDispatcher& self, const IPCMessage&) {
             self.controller_.postMain([&self] { self.handleOpenResult(); });
         }},
    };

    const QString& command = message.command;
    if (command == QStringLiteral("ping")) {
        return;
    }
    appendLog(QStringLiteral("[SERVER] CMD: ") + command + QStringLiteral(" (RID: ") + message.request_id + QStringLiteral(")"));

    if (message.type == QStringLiteral("response") || message.type == QStringLiteral("error")) {
        if (controller_.exchange_->deliverReply(message)) {
            return;
        }
        // Nobody waits for it (any more): treat it as a command.
    }
    if (const auto it = handlers.constFind(command); it != handlers.constEnd()) {
        (*it)(*this, message);
        return;
    }
    appendLog(QStringLiteral("RCV CMD: ") + command);
}

void MessageDispatcher::handleScrollCompletion(const IPCMessage& message)
{
    ExportController::ScrollHandler handler;
    {
        std::lock_guard lock(controller_.scrollLock_);
        handler = controller_.scrollCompletionHandlers_.take(message.request_id);
    }
    if (!handler) {
        return;
    }
    if (message.command == QStringLiteral("scroll_complete")) {
        handler(std::nullopt);
    } else {
        const std::optional<IPCArgs>& args = message.args;
        handler(args && args->message ? *args->message : QStringLiteral("Unknown scroll error"));
    }
}

void MessageDispatcher::handleCheckDestination(const IPCMessage& message)
{
    const bool hasVault = VaultManager().getVaultURL().has_value();
    reply(message, {
        {QStringLiteral("isRunning"), QStringLiteral("true")},
        {QStringLiteral("isReachable"), hasVault ? QStringLiteral("true") : QStringLiteral("false")},
        {QStringLiteral("message"), hasVault ? QString() : QStringLiteral("Please configure Obsidian Vault in Mossbridge App")},
    });
}

void MessageDispatcher::handleHandshake(const IPCMessage& message)
{
    if (message.args && message.args->version) {
        const QString version = *message.args->version;
        controller_.postMain([this, version] { controller_.connectedExtensionVersion_ = version; });
    }
    reply(message, {
        {QStringLiteral("app_running"), QStringLiteral("true")},
        {QStringLiteral("app_version"), AppConfig::appVersion()},
        {QStringLiteral("min_extension_version"), QString::fromLatin1(ExportController::minimumExtensionVersion)},
    });
}

void MessageDispatcher::handleLog(const IPCMessage& message)
{
    if (!message.args) {
        return;
    }
    const QString text = message.args->message.value_or(QString());
    const std::optional<QString> url = message.args->url;
    controller_.postMain([this, text, url] {
        appendLog(url ? text + QStringLiteral(" - ") + *url : text);
        if (text.startsWith(QStringLiteral("Active tab URL"))) {
            controller_.lastActiveTabURL_ = url.value_or(QString());
        } else if (text.startsWith(QStringLiteral("No active tab"))) {
            controller_.lastActiveTabURL_.clear();
        }
    });
}

void MessageDispatcher::handleChunk(const IPCMessage& message)
{
    const std::optional<IPCArgs>& args = message.args;
    const QString invalid = QStringLiteral("[ERR] Invalid chunk args for ") + message.request_id;
    if (!args || !args->chunkBase64 || !args->chunkIndex || !args->totalChunks) {
        appendLog(invalid);
        return;
    }
    // Strict: a damaged chunk is refused rather than silently shortened.
    const std::optional<QByteArray> decoded = Base64::decode(*args->chunkBase64);
    if (!decoded) {
        appendLog(invalid);
        return;
    }
    const qint64 index = *args->chunkIndex;
    const qint64 total = *args->totalChunks;
    if (!ChunkAssembler::shared().addChunk(message.request_id, index, total, *decoded)) {
        appendLog(invalid);
        return;
    }
    if (message.command == QStringLiteral("saveDomHtmlChunk")) {
        controller_.watchdog_->notePageChunk(message.request_id);
    }
    if (index % 5 == 0 || index == total - 1) {
        appendLog(QStringLiteral("Received chunk ") + QString::number(index + 1) + QStringLiteral("/") + QString::number(total)
            + QStringLiteral(" for ") + message.request_id);
    }
}

void MessageDispatcher::handleSaveFileComplete(const IPCMessage& message)
{
    if (!message.args || !message.args->url) {
        appendLog(QStringLiteral("[ERR] save_file_complete missing URL"));
        return;
    }
    const QString url = *message.args->url;
    const std::shared_ptr<MarkdownConverter> converter = controller_.takeActiveConverter();
    if (std::optional<QByteArray> data = ChunkAssembler::shared().getData(message.request_id)) {
        appendLog(QStringLiteral("[INFO] Asset received: ") + url + QStringLiteral(" (") + QString::number(data->size())
            + QStringLiteral(" bytes)"));
        if (converter) {
            converter->saveDownloadedFile(url, data, std::nullopt);
        }
        ChunkAssembler::shared().clear(message.request_id);
    } else {
        appendLog(QStringLiteral("[ERR] save_file_complete called but data incomplete for RID: ") + message.request_id);
        if (converter) {
            converter->saveDownloadedFile(url, std::nullopt, QStringLiteral("Incomplete Data"));
        }
    }
}

void MessageDispatcher::handleSaveFileError(const IPCMessage& message)
{
    if (!message.args || !message.args->url || !message.args->message) {
        return;
    }
    const QString url = *message.args->url;
    const QString error = *message.args->message;
    appendLog(QStringLiteral("[ERR] Asset download failed: ") + url + QStringLiteral(" - ") + error);
    if (const std::shared_ptr<MarkdownConverter> converter = controller_.takeActiveConverter()) {
        converter->saveDownloadedFile(url, std::nullopt, error);
    }
}

void MessageDispatcher::handleExportMarkdown(const IPCMessage& message)
{
    if (!message.args || !message.args->htmlRequestId) {
        appendLog(QStringLiteral("[ERR] exportMarkdown missing htmlRequestId"));
        controller_.results_->sendErrorResponse(message.request_id, QStringLiteral("Missing htmlRequestId"));
        return;
    }
    const QString htmlRequestId = *message.args->htmlRequestId;
    if (std::optional<QByteArray> data = ChunkAssembler::shared().getData(htmlRequestId)) {
        appendLog(QStringLiteral("[INFO] HTML Data found for Export. Size: ") + QString::number(data->size()));
        controller_.processor_->processHTML(*data, htmlRequestId, message.args->filename, message.request_id);
    } else {
        appendLog(QStringLiteral("[ERR] exportMarkdown called but data not found for HTML RID: ") + htmlRequestId);
        controller_.results_->sendErrorResponse(message.request_id, QStringLiteral("HTML data not found"));
    }
}

void MessageDispatcher::handleCaptureAnnounced(const IPCMessage& message, const QString& completeLine,
    const QString& incompleteLine)
{
    if (std::optional<QByteArray> data = ChunkAssembler::shared().getData(message.request_id)) {
        appendLog(completeLine.arg(data->size()));
        // The export's own reply goes to this message's id.
        controller_.processor_->processHTML(*data, message.request_id, std::nullopt, message.request_id);
    } else {
        appendLog(incompleteLine + message.request_id);
        controller_.watchdog_->captureIncomplete(message.request_id, completeLine);
    }
}

void MessageDispatcher::handleSessionStatus(const IPCMessage& message)
{
    // The session belongs to the main thread; answer from there.
    controller_.postMain([this, message] {
        QMap<QString, QString> result;
        if (const std::optional<ExportSession>& session = controller_.currentExport_) {
            result = {
                {QStringLiteral("active"), QStringLiteral("true")},
                {QStringLiteral("tabId"), QString::number(session->tabId)},
                {QStringLiteral("windowId"), QString::number(session->windowId)},
                {QStringLiteral("status"), session->status},
                {QStringLiteral("current"), QString::number(session->currentProgress)},
                {QStringLiteral("total"), QString::number(session->totalProgress)},
            };
        } else {
            result = {{QStringLiteral("active"), QStringLiteral("false")}};
        }
        reply(message, result, QStringLiteral("session_status"));
    });
}

void MessageDispatcher::handleResetTimeout()
{
    {
        std::lock_guard lock(controller_.timeoutLock_);
        controller_.timeoutResetRequested_ = true;
    }
    appendLog(QStringLiteral("Timeout reset requested by extension."));
}

void MessageDispatcher::handleUpdateTabStatus(const IPCMessage& message)
{
    if (!message.args || !message.args->isBackground) {
        return;
    }
    const bool background = *message.args->isBackground;
    {
        std::lock_guard lock(controller_.timeoutLock_);
        controller_.isTabBackgrounded_ = background;
        if (!background) {
            controller_.timeoutResetRequested_ = true;
        }
    }
    appendLog(QStringLiteral("[INFO] Tab background status updated: ")
        + (background ? QStringLiteral("true") : QStringLiteral("false")));
}

void MessageDispatcher::handleOpenResult()
{
    const QList<ExportHistoryItem> exports = ExportHistoryManager::shared().successfulExports();
    if (exports.isEmpty()) {
        appendLog(QStringLiteral("[WARN] open_result requested but no history found."));
        return;
    }
    if (controller_.shell_ != nullptr) {
        controller_.shell_->openViaUrlScheme(exports.first().vaultName, exports.first().finalPath);
    }
}
