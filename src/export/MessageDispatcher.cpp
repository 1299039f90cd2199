#include "export/MessageDispatcher.h"

#include "convert/MarkdownConverter.h"
#include "core/ActivityLog.h"
#include "core/AppState.h"
#include "core/Graphemes.h"
#include "core/UuidText.h"
#include "export/CapturedPageProcessor.h"
#include "export/ExportLifecycle.h"
#include "export/ExportResults.h"
#include "export/ExportRuntime.h"
#include "export/ExportServices.h"
#include "export/ExportSessionState.h"
#include "export/ExportShell.h"
#include "export/ExportText.h"
#include "export/RequestExchange.h"
#include "export/SessionWatchdog.h"
#include "link/Base64.h"
#include "link/ChunkAssembler.h"
#include "storage/AppConfig.h"
#include "storage/ExportHistoryManager.h"

#include <QHash>

#include <functional>

MessageDispatcher::MessageDispatcher(ExportRuntime& runtime, ExportSessionState& state, RequestExchange& exchange,
    ExportLifecycle& lifecycle, CapturedPageProcessor& processor, ExportResults& results, SessionWatchdog& watchdog,
    const ExportServices& services)
    : runtime_(runtime)
    , state_(state)
    , exchange_(exchange)
    , lifecycle_(lifecycle)
    , processor_(processor)
    , results_(results)
    , watchdog_(watchdog)
    , services_(services)
{
}

void MessageDispatcher::serverDidReceiveMessage(WebSocketServer&, const QByteArray& bytes)
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

void MessageDispatcher::serverDidReceiveDecodedMessage(WebSocketServer&, const QByteArray&, const IPCMessage& decoded)
{
    handleIPCMessage(decoded);
}

void MessageDispatcher::serverDidLog(WebSocketServer&, const QString& line)
{
    // The per-message read and decode lines would flood the log.
    if (line.startsWith(QStringLiteral("ReadLoop:")) || line.startsWith(QStringLiteral("ProcessMessage:"))) {
        return;
    }
    appendLog(QStringLiteral("[WS-LOG] ") + line);
}

void MessageDispatcher::serverDidConnect(WebSocketServer&)
{
    // A new client replaces the old one without a disconnect: what the old one was asked for
    // is not coming.
    failDownloadsOfGoneConnection();
    state_.noteConnected();
    AppState::shared().setExtensionConnected(true);
    runtime_.postMain([this] { state_.stopDisconnectTimer(); });
    appendLog(QStringLiteral("WebSocket Client connected"));
    if (AppState::shared().showOnboarding()) {
        runtime_.send(ExportText::appMessage(QStringLiteral("command"), QStringLiteral("close_connect_tab"), UuidText::fresh()));
    }
}

void MessageDispatcher::serverDidDisconnect(WebSocketServer&)
{
    state_.noteDisconnected();
    failDownloadsOfGoneConnection();
    AppState::shared().setExtensionConnected(false);
    runtime_.postMain([this] {
        state_.setConnectedExtensionVersion(std::nullopt);
        state_.stopDisconnectTimer();
    });
    appendLog(QStringLiteral("WebSocket Client disconnected"));
}

void MessageDispatcher::failDownloadsOfGoneConnection()
{
    // Outside the lock: failing a download runs the converter's hooks.
    for (const std::shared_ptr<MarkdownConverter>& converter : state_.conversions()) {
        converter->failPendingDownloads(ExportText::connectionGone());
    }
}

void MessageDispatcher::reply(const IPCMessage& incoming, const QMap<QString, QString>& result, const QString& command)
{
    IPCMessage response = ExportText::appMessage(QStringLiteral("response"),
        command.isEmpty() ? incoming.command : command, incoming.request_id);
    response.result = result;
    runtime_.send(response);
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
             ExportLifecycle& lifecycle = self.lifecycle_;
             self.runtime_.postMain([&lifecycle, m] { lifecycle.handleInvokeExport(m); });
         }},
        {QStringLiteral("request_abort"), [](MessageDispatcher& self, const IPCMessage& m) {
             ExportLifecycle& lifecycle = self.lifecycle_;
             self.runtime_.postMain([&lifecycle, args = m.args] { lifecycle.handleRequestAbort(args); });
         }},
        {QStringLiteral("abort_export"), [](MessageDispatcher& self, const IPCMessage& m) {
             ExportLifecycle& lifecycle = self.lifecycle_;
             self.runtime_.postMain([&lifecycle, args = m.args] { lifecycle.handleAbortExport(args); });
         }},
        {QStringLiteral("reset_timeout"), [](MessageDispatcher& self, const IPCMessage&) { self.handleResetTimeout(); }},
        {QStringLiteral("update_tab_status"), &MessageDispatcher::handleUpdateTabStatus},
        {QStringLiteral("open_result"), [](MessageDispatcher& self, const IPCMessage&) {
             self.runtime_.postMain([&self] { self.handleOpenResult(); });
         }},
    };

    const QString& command = message.command;
    if (command == QStringLiteral("ping")) {
        return;
    }
    appendLog(QStringLiteral("[SERVER] CMD: ") + command + QStringLiteral(" (RID: ") + message.request_id + QStringLiteral(")"));

    if (message.type == QStringLiteral("response") || message.type == QStringLiteral("error")) {
        if (exchange_.deliverReply(message)) {
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
    const ExportSessionState::ScrollHandler handler = state_.takeScrollCompletionHandler(message.request_id);
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
    const bool hasVault = services_.vault.getVaultURL().has_value();
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
        runtime_.postMain([this, version] { state_.setConnectedExtensionVersion(version); });
    }
    reply(message, {
        {QStringLiteral("app_running"), QStringLiteral("true")},
        {QStringLiteral("app_version"), AppConfig::appVersion()},
        {QStringLiteral("min_extension_version"), QString::fromLatin1(ExportLifecycle::minimumExtensionVersion)},
    });
}

void MessageDispatcher::handleLog(const IPCMessage& message)
{
    if (!message.args) {
        return;
    }
    const QString text = message.args->message.value_or(QString());
    const std::optional<QString> url = message.args->url;
    runtime_.postMain([this, text, url] {
        appendLog(url ? text + QStringLiteral(" - ") + *url : text);
        if (text.startsWith(QStringLiteral("Active tab URL"))) {
            state_.setLastActiveTabURL(url.value_or(QString()));
        } else if (text.startsWith(QStringLiteral("No active tab"))) {
            state_.setLastActiveTabURL(QString());
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
    if (!services_.chunks.addChunk(message.request_id, index, total, *decoded)) {
        appendLog(invalid);
        return;
    }
    if (message.command == QStringLiteral("saveDomHtmlChunk")) {
        watchdog_.notePageChunk(message.request_id);
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
    const std::shared_ptr<MarkdownConverter> converter = state_.activeConverter();
    if (std::optional<QByteArray> data = services_.chunks.getData(message.request_id)) {
        appendLog(QStringLiteral("[INFO] Asset received: ") + url + QStringLiteral(" (") + QString::number(data->size())
            + QStringLiteral(" bytes)"));
        if (converter) {
            converter->saveDownloadedFile(url, data, std::nullopt);
        }
        services_.chunks.clear(message.request_id);
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
    if (const std::shared_ptr<MarkdownConverter> converter = state_.activeConverter()) {
        converter->saveDownloadedFile(url, std::nullopt, error);
    }
}

void MessageDispatcher::handleExportMarkdown(const IPCMessage& message)
{
    if (!message.args || !message.args->htmlRequestId) {
        appendLog(QStringLiteral("[ERR] exportMarkdown missing htmlRequestId"));
        results_.sendErrorResponse(message.request_id, QStringLiteral("Missing htmlRequestId"));
        return;
    }
    const QString htmlRequestId = *message.args->htmlRequestId;
    if (std::optional<QByteArray> data = services_.chunks.getData(htmlRequestId)) {
        appendLog(QStringLiteral("[INFO] HTML Data found for Export. Size: ") + QString::number(data->size()));
        processor_.processHTML(*data, htmlRequestId, message.args->filename, message.request_id);
    } else {
        appendLog(QStringLiteral("[ERR] exportMarkdown called but data not found for HTML RID: ") + htmlRequestId);
        results_.sendErrorResponse(message.request_id, QStringLiteral("HTML data not found"));
    }
}

void MessageDispatcher::handleCaptureAnnounced(const IPCMessage& message, const QString& completeLine,
    const QString& incompleteLine)
{
    // The export's own reply goes to this message's id; a page still missing chunks may
    // become whole during the watchdog's grace.
    const QString requestId = message.request_id;
    SessionWatchdog::PageHandler process = [this, requestId, completeLine](const QByteArray& page) {
        appendLog(completeLine.arg(page.size()));
        processor_.processHTML(page, requestId, std::nullopt, requestId);
    };
    if (std::optional<QByteArray> data = services_.chunks.getData(requestId)) {
        process(*data);
    } else {
        appendLog(incompleteLine + requestId);
        watchdog_.captureIncomplete(requestId, std::move(process));
    }
}

void MessageDispatcher::handleSessionStatus(const IPCMessage& message)
{
    // The session belongs to the main thread; answer from there.
    runtime_.postMain([this, message] {
        QMap<QString, QString> result;
        if (const std::optional<ExportSession>& session = state_.currentExport()) {
            result = {
                {QStringLiteral("active"), QStringLiteral("true")},
                {QStringLiteral("tabId"), QString::number(session->tabId)},
                {QStringLiteral("windowId"), QString::number(session->windowId)},
                {QStringLiteral("status"), ExportSession::wireText(session->status)},
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
    state_.requestTimeoutReset();
    appendLog(QStringLiteral("Timeout reset requested by extension."));
}

void MessageDispatcher::handleUpdateTabStatus(const IPCMessage& message)
{
    if (!message.args || !message.args->isBackground) {
        return;
    }
    const bool background = *message.args->isBackground;
    state_.updateTabStatus(background);
    appendLog(QStringLiteral("[INFO] Tab background status updated: ")
        + (background ? QStringLiteral("true") : QStringLiteral("false")));
}

void MessageDispatcher::handleOpenResult()
{
    const QList<ExportHistoryItem> exports = services_.history.successfulExports();
    if (exports.isEmpty()) {
        appendLog(QStringLiteral("[WARN] open_result requested but no history found."));
        return;
    }
    if (ExportShell* shell = runtime_.shell()) {
        shell->openViaUrlScheme(exports.first().vaultName, exports.first().finalPath);
    }
}
