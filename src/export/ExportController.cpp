#include "export/ExportController.h"

#include "convert/MarkdownConverter.h"
#include "core/ActivityLog.h"
#include "core/AppState.h"
#include "core/Dispatch.h"
#include "core/MemoryTuning.h"
#include "export/ExportShell.h"
#include "link/Base64.h"
#include "link/ChunkAssembler.h"
#include "link/WebSocketServer.h"
#include "storage/AppConfig.h"
#include "storage/ExportHistoryManager.h"
#include "storage/VaultManager.h"
#include "storage/VaultWriter.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QStringDecoder>
#include <QTextBoundaryFinder>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <semaphore>

namespace {

const QString kConfigureVault = QStringLiteral("Please configure Obsidian Vault in Mossbridge App Settings.");
const QString kStartOfChatSelector = QStringLiteral(
    R"([class*="BotInfoCard_sectionContainer"], [class*="ChatInviteCard_inviteCard"])");
const QString kCollapsedCodeSelector = QStringLiteral(
    R"([class*="MarkdownCodeBlock_collapsible__"][data-collapsed="true"])");
const QString kTimeoutMessage = QStringLiteral("Timeout: Start of chat not reached within limit.");
const QString kMetricsMissing = QStringLiteral("Could not read the chat's scroll position.");

QString uuidString()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

IPCMessage envelope(const QString& type, const QString& command, const QString& requestId)
{
    return IPCMessage::make(QStringLiteral("app"), type, command, requestId);
}

std::optional<QString> resultValue(const std::optional<IPCMessage>& reply, const char* key)
{
    if (!reply || !reply->result) {
        return std::nullopt;
    }
    const auto it = reply->result->constFind(QString::fromLatin1(key));
    if (it == reply->result->constEnd()) {
        return std::nullopt;
    }
    return *it;
}

// Base-10 integers with an optional sign; anything else reads as nothing.
std::optional<qint64> parseInteger(const std::optional<QString>& text)
{
    if (!text) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text->toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

std::optional<double> parseReal(const std::optional<QString>& text)
{
    if (!text) {
        return std::nullopt;
    }
    bool ok = false;
    const double value = text->toDouble(&ok);
    return ok ? std::optional<double>(value) : std::nullopt;
}

// A real number as the log lines show it: shortest form, always with a fractional part.
QString realText(double value)
{
    QString text = QString::number(value, 'g', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')) && !text.contains(QLatin1Char('n'))) {
        text += QStringLiteral(".0");
    }
    return text;
}

// The first `count` user-perceived characters, or nothing when the text is not longer.
std::optional<QString> cutGraphemes(const QString& text, int count)
{
    if (text.size() <= count) {
        return std::nullopt; // fewer code units than characters asked for: nothing to cut
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    int seen = 0;
    qsizetype position = 0;
    while (seen < count) {
        position = finder.toNextBoundary();
        if (position < 0 || position >= text.size()) {
            return std::nullopt;
        }
        ++seen;
    }
    return text.left(position);
}

std::optional<QString> decodeUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

QString number(qint64 value)
{
    return QString::number(value);
}

} // namespace

ExportController::ExportController(ExportShell* shell, ExportTimings timings, QObject* parent)
    : QObject(parent)
    , shell_(shell)
    , timings_(timings)
    , disconnectedSince_(std::chrono::steady_clock::now().time_since_epoch().count())
{
    pool_.setMaxThreadCount(8);
    memoryReleaseTimer_ = new QTimer(this);
    memoryReleaseTimer_->setSingleShot(true);
    memoryReleaseTimer_->setInterval(timings_.memoryReleaseDelay);
    connect(memoryReleaseTimer_, &QTimer::timeout, this, [] { releaseFreeMemory(); });
}

ExportController::~ExportController()
{
    shutdown();
}

void ExportController::setWebSocketServer(WebSocketServer* server)
{
    webSocketServer_.store(server);
}

void ExportController::shutdown()
{
    shuttingDown_.store(true);
    {
        std::lock_guard lock(pauseMutex_);
    }
    pauseWake_.notify_all();
    // Workers may be waiting for the main thread; keep serving it while they finish.
    while (!pool_.waitForDone(10)) {
        if (isMainThread()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Threads

void ExportController::postMain(std::function<void()> work)
{
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void ExportController::runMainSync(const std::function<void()>& work)
{
    if (isMainThread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(this, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

void ExportController::startBackground(std::function<void()> work)
{
    if (isShuttingDown()) {
        return;
    }
    pool_.start(std::move(work));
}

void ExportController::pause(std::chrono::milliseconds duration)
{
    std::unique_lock lock(pauseMutex_);
    pauseWake_.wait_for(lock, duration, [this] { return shuttingDown_.load(); });
}

// ---------------------------------------------------------------------------------------------
// Sending

void ExportController::send(const IPCMessage& message)
{
    if (WebSocketServer* server = webSocketServer_.load()) {
        server->send(message.encode());
    }
}

void ExportController::reply(const IPCMessage& incoming, const QMap<QString, QString>& result,
    const QString& command)
{
    IPCMessage response = envelope(QStringLiteral("response"),
        command.isEmpty() ? incoming.command : command, incoming.request_id);
    response.result = result;
    send(response);
}

IPCArgs ExportController::exportContextArgs() const
{
    IPCArgs args;
    if (currentExport_) {
        args.tabId = currentExport_->tabId;
        args.windowId = currentExport_->windowId;
        args.session = SessionContext {currentExport_->tabId, currentExport_->windowId, currentExport_->status};
    } else {
        args.tabId = lastExportTabId_;
        args.windowId = lastExportWindowId_;
        if (lastExportTabId_ && lastExportWindowId_) {
            args.session = SessionContext {*lastExportTabId_, *lastExportWindowId_, QStringLiteral("processing")};
        }
    }
    return args;
}

void ExportController::sendPanel(const QString& requestId, const UICommand& ui)
{
    IPCArgs args = exportContextArgs();
    args.ui = ui;
    for (const char* command : {"update_ui", "ui_render"}) {
        IPCMessage message = envelope(QStringLiteral("command"), QString::fromLatin1(command), requestId);
        message.args = args;
        send(message);
    }
}

void ExportController::updateStatus(const QString& text)
{
    postMain([this, text] {
        if (shell_ != nullptr) {
            shell_->updateStatus(text);
        }
    });
}

// ---------------------------------------------------------------------------------------------
// Server delegate

void ExportController::serverDidReceiveMessage(WebSocketServer&, const QByteArray& bytes)
{
    if (std::optional<IPCMessage> message = IPCMessage::decode(bytes)) {
        handleIPCMessage(*message);
        return;
    }
    if (std::optional<QString> text = decodeUtf8(bytes)) {
        const std::optional<QString> cut = cutGraphemes(*text, 200);
        appendLog(QStringLiteral("WS-RCV: ") + (cut ? *cut + QStringLiteral("...") : *text));
    } else {
        appendLog(QStringLiteral("[WS-SERVER] RCV: ") + number(bytes.size()) + QStringLiteral(" bytes (Binary)"));
    }
}

void ExportController::serverDidReceiveDecodedMessage(WebSocketServer&, const QByteArray&,
    const IPCMessage& decoded)
{
    handleIPCMessage(decoded);
}

void ExportController::serverDidLog(WebSocketServer&, const QString& line)
{
    // The per-message read and decode lines would flood the log.
    if (line.startsWith(QStringLiteral("ReadLoop:")) || line.startsWith(QStringLiteral("ProcessMessage:"))) {
        return;
    }
    appendLog(QStringLiteral("[WS-LOG] ") + line);
}

void ExportController::serverDidConnect(WebSocketServer&)
{
    clientConnected_.store(true);
    AppState::shared().setExtensionConnected(true);
    postMain([this] {
        if (disconnectTimer_ != nullptr) {
            disconnectTimer_->stop();
        }
    });
    appendLog(QStringLiteral("WebSocket Client connected"));
    if (AppState::shared().showOnboarding()) {
        send(envelope(QStringLiteral("command"), QStringLiteral("close_connect_tab"), uuidString()));
    }
}

void ExportController::serverDidDisconnect(WebSocketServer&)
{
    disconnectedSince_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    clientConnected_.store(false);
    AppState::shared().setExtensionConnected(false);
    postMain([this] {
        connectedExtensionVersion_.reset();
        if (disconnectTimer_ != nullptr) {
            disconnectTimer_->stop();
        }
    });
    appendLog(QStringLiteral("WebSocket Client disconnected"));
}

bool ExportController::extensionAbsentFor(std::chrono::milliseconds grace) const
{
    if (clientConnected_.load()) {
        return false;
    }
    const auto since = std::chrono::steady_clock::time_point(
        std::chrono::steady_clock::duration(disconnectedSince_.load()));
    return std::chrono::steady_clock::now() - since >= grace;
}

// ---------------------------------------------------------------------------------------------
// Dispatcher

void ExportController::handleIPCMessage(const IPCMessage& message)
{
    const QString& command = message.command;
    if (command == QStringLiteral("ping")) {
        return;
    }
    appendLog(QStringLiteral("[SERVER] CMD: ") + command + QStringLiteral(" (RID: ") + message.request_id + QStringLiteral(")"));

    if (message.type == QStringLiteral("response") || message.type == QStringLiteral("error")) {
        ReplyHandler handler;
        {
            std::lock_guard lock(pendingLock_);
            handler = pendingResponses_.take(message.request_id);
        }
        if (handler) {
            handler(message);
            return;
        }
        // Nobody waits for it (any more): treat it as a command.
    }

    const std::optional<IPCArgs>& args = message.args;

    if (command == QStringLiteral("scroll_complete") || command == QStringLiteral("scroll_error")) {
        ScrollHandler handler;
        {
            std::lock_guard lock(scrollLock_);
            handler = scrollCompletionHandlers_.take(message.request_id);
        }
        if (handler) {
            if (command == QStringLiteral("scroll_complete")) {
                handler(std::nullopt);
            } else {
                handler(args && args->message ? *args->message : QStringLiteral("Unknown scroll error"));
            }
        }
        return;
    }
    if (command == QStringLiteral("check_destination")) {
        const bool hasVault = VaultManager().getVaultURL().has_value();
        reply(message, {
            {QStringLiteral("isRunning"), QStringLiteral("true")},
            {QStringLiteral("isReachable"), hasVault ? QStringLiteral("true") : QStringLiteral("false")},
            {QStringLiteral("message"), hasVault ? QString() : QStringLiteral("Please configure Obsidian Vault in Mossbridge App")},
        });
        return;
    }
    if (command == QStringLiteral("handshake")) {
        if (args && args->version) {
            const QString version = *args->version;
            postMain([this, version] { connectedExtensionVersion_ = version; });
        }
        reply(message, {
            {QStringLiteral("app_running"), QStringLiteral("true")},
            {QStringLiteral("app_version"), AppConfig::appVersion()},
            {QStringLiteral("min_extension_version"), QString::fromLatin1(minimumExtensionVersion)},
        });
        return;
    }
    if (command == QStringLiteral("log")) {
        if (args) {
            const QString text = args->message.value_or(QString());
            const std::optional<QString> url = args->url;
            postMain([this, text, url] {
                appendLog(url ? text + QStringLiteral(" - ") + *url : text);
                if (text.startsWith(QStringLiteral("Active tab URL"))) {
                    lastActiveTabURL_ = url.value_or(QString());
                } else if (text.startsWith(QStringLiteral("No active tab"))) {
                    lastActiveTabURL_.clear();
                }
            });
        }
        return;
    }
    if (command == QStringLiteral("saveDomHtmlChunk") || command == QStringLiteral("save_file")) {
        handleChunk(message);
        return;
    }
    if (command == QStringLiteral("save_file_complete")) {
        handleSaveFileComplete(message);
        return;
    }
    if (command == QStringLiteral("save_file_error")) {
        handleSaveFileError(message);
        return;
    }
    if (command == QStringLiteral("exportMarkdown")) {
        handleExportMarkdown(message);
        return;
    }
    if (command == QStringLiteral("capture_complete")) {
        handleCaptureAnnounced(message, QStringLiteral("Capture Complete (%1 bytes). Processing..."),
            QStringLiteral("[ERR] capture_complete called but data incomplete for RID: "));
        return;
    }
    if (command == QStringLiteral("saveDomHtmlWrite")) {
        handleCaptureAnnounced(message, QStringLiteral("HTML Assembly Complete (%1 bytes). Processing..."),
            QStringLiteral("[ERR] saveDomHtmlWrite called but data incomplete for RID: "));
        return;
    }
    if (command == QStringLiteral("get_session_status")) {
        handleSessionStatus(message);
        return;
    }
    if (command == QStringLiteral("invoke_export")) {
        postMain([this, message] { handleInvokeExport(message); });
        return;
    }
    if (command == QStringLiteral("request_abort")) {
        postMain([this, args] { handleRequestAbort(args); });
        return;
    }
    if (command == QStringLiteral("abort_export")) {
        postMain([this, args] { handleAbortExport(args); });
        return;
    }
    if (command == QStringLiteral("reset_timeout")) {
        {
            std::lock_guard lock(timeoutLock_);
            timeoutResetRequested_ = true;
        }
        appendLog(QStringLiteral("Timeout reset requested by extension."));
        return;
    }
    if (command == QStringLiteral("update_tab_status")) {
        if (args && args->isBackground) {
            const bool background = *args->isBackground;
            {
                std::lock_guard lock(timeoutLock_);
                isTabBackgrounded_ = background;
                if (!background) {
                    timeoutResetRequested_ = true;
                }
            }
            appendLog(QStringLiteral("[INFO] Tab background status updated: ")
                + (background ? QStringLiteral("true") : QStringLiteral("false")));
        }
        return;
    }
    if (command == QStringLiteral("open_result")) {
        postMain([this] { handleOpenResult(); });
        return;
    }
    appendLog(QStringLiteral("RCV CMD: ") + command);
}

void ExportController::handleChunk(const IPCMessage& message)
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
    if (index % 5 == 0 || index == total - 1) {
        appendLog(QStringLiteral("Received chunk ") + number(index + 1) + QStringLiteral("/") + number(total)
            + QStringLiteral(" for ") + message.request_id);
    }
}

void ExportController::handleSaveFileComplete(const IPCMessage& message)
{
    if (!message.args || !message.args->url) {
        appendLog(QStringLiteral("[ERR] save_file_complete missing URL"));
        return;
    }
    const QString url = *message.args->url;
    const std::shared_ptr<MarkdownConverter> converter = takeActiveConverter();
    if (std::optional<QByteArray> data = ChunkAssembler::shared().getData(message.request_id)) {
        appendLog(QStringLiteral("[INFO] Asset received: ") + url + QStringLiteral(" (") + number(data->size())
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

void ExportController::handleSaveFileError(const IPCMessage& message)
{
    if (!message.args || !message.args->url || !message.args->message) {
        return;
    }
    const QString url = *message.args->url;
    const QString error = *message.args->message;
    appendLog(QStringLiteral("[ERR] Asset download failed: ") + url + QStringLiteral(" - ") + error);
    if (const std::shared_ptr<MarkdownConverter> converter = takeActiveConverter()) {
        converter->saveDownloadedFile(url, std::nullopt, error);
    }
}

void ExportController::handleExportMarkdown(const IPCMessage& message)
{
    if (!message.args || !message.args->htmlRequestId) {
        appendLog(QStringLiteral("[ERR] exportMarkdown missing htmlRequestId"));
        sendErrorResponse(message.request_id, QStringLiteral("Missing htmlRequestId"));
        return;
    }
    const QString htmlRequestId = *message.args->htmlRequestId;
    if (std::optional<QByteArray> data = ChunkAssembler::shared().getData(htmlRequestId)) {
        appendLog(QStringLiteral("[INFO] HTML Data found for Export. Size: ") + number(data->size()));
        processHTML(*data, htmlRequestId, message.args->filename, message.request_id);
    } else {
        appendLog(QStringLiteral("[ERR] exportMarkdown called but data not found for HTML RID: ") + htmlRequestId);
        sendErrorResponse(message.request_id, QStringLiteral("HTML data not found"));
    }
}

void ExportController::handleCaptureAnnounced(const IPCMessage& message, const QString& completeLine,
    const QString& incompleteLine)
{
    if (std::optional<QByteArray> data = ChunkAssembler::shared().getData(message.request_id)) {
        appendLog(completeLine.arg(data->size()));
        // The export's own reply goes to this message's id.
        processHTML(*data, message.request_id, std::nullopt, message.request_id);
    } else {
        appendLog(incompleteLine + message.request_id);
    }
}

void ExportController::handleSessionStatus(const IPCMessage& message)
{
    // The session belongs to the main thread; answer from there.
    postMain([this, message] {
        QMap<QString, QString> result;
        if (currentExport_) {
            result = {
                {QStringLiteral("active"), QStringLiteral("true")},
                {QStringLiteral("tabId"), number(currentExport_->tabId)},
                {QStringLiteral("windowId"), number(currentExport_->windowId)},
                {QStringLiteral("status"), currentExport_->status},
                {QStringLiteral("current"), number(currentExport_->currentProgress)},
                {QStringLiteral("total"), number(currentExport_->totalProgress)},
            };
        } else {
            result = {{QStringLiteral("active"), QStringLiteral("false")}};
        }
        reply(message, result, QStringLiteral("session_status"));
    });
}

void ExportController::handleOpenResult()
{
    const QList<ExportHistoryItem> exports = ExportHistoryManager::shared().successfulExports();
    if (exports.isEmpty()) {
        appendLog(QStringLiteral("[WARN] open_result requested but no history found."));
        return;
    }
    if (shell_ != nullptr) {
        shell_->openViaUrlScheme(exports.first().vaultName, exports.first().finalPath);
    }
}

// ---------------------------------------------------------------------------------------------
// Request exchange

std::optional<SessionContext> ExportController::getCurrentSessionContext()
{
    std::optional<SessionContext> context;
    runMainSync([this, &context] {
        if (currentExport_) {
            context = SessionContext {currentExport_->tabId, currentExport_->windowId, currentExport_->status};
        } else if (lastExportTabId_ && lastExportWindowId_) {
            context = SessionContext {*lastExportTabId_, *lastExportWindowId_, std::nullopt};
        }
    });
    return context;
}

std::optional<IPCMessage> ExportController::sendRequestAndWait(const QString& command,
    std::optional<IPCArgs> args, double timeout, const std::optional<QString>& explicitRequestId)
{
    WebSocketServer* server = webSocketServer_.load();
    if (isMainThread() || (server != nullptr && server->isServerThread())) {
        // The reply arrives on the server thread and the session is read on the main thread:
        // waiting on either would never end.
        appendLog(QStringLiteral("❌ Refused to wait for the reply to ") + command
            + QStringLiteral(" on the main or server thread"));
        Q_ASSERT_X(false, "ExportController::sendRequestAndWait", "called on the main or server thread");
        return std::nullopt;
    }
    if (isShuttingDown()) {
        return std::nullopt;
    }

    if (std::optional<SessionContext> context = getCurrentSessionContext()) {
        if (!args) {
            args = IPCArgs {};
        }
        if (!args->session) {
            args->session = context;
        }
    }
    const QString requestId = explicitRequestId.value_or(uuidString());
    IPCMessage request = envelope(QStringLiteral("request"), command, requestId);
    request.args = args;

    struct Box {
        std::binary_semaphore ready {0};
        std::mutex mutex;
        std::optional<IPCMessage> message;
    };
    auto box = std::make_shared<Box>();
    {
        std::lock_guard lock(pendingLock_);
        pendingResponses_.insert(requestId, [box](const IPCMessage& message) {
            {
                std::lock_guard boxLock(box->mutex);
                box->message = message;
            }
            box->ready.release();
        });
    }

    send(request);

    const auto limit = std::chrono::duration<double>(std::max(timeout, 0.0));
    if (!box->ready.try_acquire_for(limit)) {
        bool removed = false;
        {
            std::lock_guard lock(pendingLock_);
            removed = pendingResponses_.remove(requestId) > 0;
        }
        if (removed) {
            appendLog(QStringLiteral("⏱️ Request timed out: ") + command);
            return std::nullopt;
        }
        // The dispatcher took the handler just as the time ran out: the reply is on its way.
        box->ready.acquire();
    }
    std::lock_guard boxLock(box->mutex);
    return box->message;
}

std::optional<IPCMessage> ExportController::request(const QString& command, std::optional<IPCArgs> args)
{
    const double seconds = std::chrono::duration<double>(timings_.requestTimeout).count();
    return sendRequestAndWait(command, std::move(args), seconds);
}

// ---------------------------------------------------------------------------------------------
// Export start, abort and status

bool ExportController::isVersionOlder(const QString& version, const QString& than)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < version.size() && j < than.size()) {
        if (version[i].isDigit() && than[j].isDigit()) {
            qsizetype endI = i;
            qsizetype endJ = j;
            while (endI < version.size() && version[endI].isDigit()) {
                ++endI;
            }
            while (endJ < than.size() && than[endJ].isDigit()) {
                ++endJ;
            }
            QStringView a = QStringView(version).sliced(i, endI - i);
            QStringView b = QStringView(than).sliced(j, endJ - j);
            while (a.size() > 1 && a.front() == QLatin1Char('0')) {
                a = a.sliced(1);
            }
            while (b.size() > 1 && b.front() == QLatin1Char('0')) {
                b = b.sliced(1);
            }
            if (a.size() != b.size()) {
                return a.size() < b.size();
            }
            if (const int order = a.compare(b); order != 0) {
                return order < 0;
            }
            i = endI;
            j = endJ;
            continue;
        }
        if (version[i] != than[j]) {
            return version[i] < than[j];
        }
        ++i;
        ++j;
    }
    return version.size() - i < than.size() - j;
}

void ExportController::handleInvokeExport(const IPCMessage& message)
{
    const std::optional<IPCArgs>& args = message.args;
    // A refusal is addressed to the tab that asked, and leaves a running export alone.
    std::optional<IPCArgs> askingTab;
    if (args && args->tabId && args->windowId) {
        IPCArgs context;
        context.tabId = args->tabId;
        context.windowId = args->windowId;
        context.session = SessionContext {*args->tabId, *args->windowId, QStringLiteral("error")};
        askingTab = context;
    }

    if (connectedExtensionVersion_
        && isVersionOlder(*connectedExtensionVersion_, QString::fromLatin1(minimumExtensionVersion))) {
        sendErrorResult(message.request_id,
            QStringLiteral("Chrome Extension version ") + *connectedExtensionVersion_
                + QStringLiteral(" is too old. Please update to 0.10.0+ via Chrome Web Store."),
            false, askingTab);
        return;
    }
    if (args) {
        if (!args->tabId || !args->windowId) {
            lastExportTabId_ = args->tabId;
            lastExportWindowId_ = args->windowId;
        } else {
            if (currentExport_ && currentExport_->tabId != *args->tabId
                && currentExport_->status != QStringLiteral("complete")
                && currentExport_->status != QStringLiteral("error")) {
                sendErrorResult(message.request_id, QStringLiteral("Export already in progress in another tab"),
                    false, askingTab);
                return;
            }
            ExportSession session;
            session.sessionId = uuidString();
            session.tabId = *args->tabId;
            session.windowId = *args->windowId;
            session.status = QStringLiteral("starting");
            currentExport_ = session;
            lastExportTabId_ = session.tabId;
            lastExportWindowId_ = session.windowId;
        }
    }
    {
        std::lock_guard lock(timeoutLock_);
        isTabBackgrounded_ = false;
    }
    triggerExportToObsidian();
}

void ExportController::triggerExportToObsidian()
{
    pendingExportId_ = uuidString();
    appendLog(QStringLiteral("Export triggered: ") + *pendingExportId_);
    updateStatus(QStringLiteral("Exporting..."));

    if (!VaultManager().getVaultURL()) {
        std::optional<qint64> tabId;
        std::optional<qint64> windowId;
        if (currentExport_) {
            tabId = currentExport_->tabId;
            windowId = currentExport_->windowId;
        }
        if (isTabBackgrounded()) {
            scheduleErrorNotification(QStringLiteral("Current Chat"), QStringLiteral("Export Failed: ") + kConfigureVault,
                tabId, windowId);
        }
        sendAbortWithMetrics(kConfigureVault, tabId, windowId, std::nullopt);
        // The export is over: a session left behind would refuse every other tab's export.
        currentExport_.reset();
        updateStatus(QStringLiteral("Ready"));
        if (shell_ != nullptr) {
            shell_->showOnboarding(OnboardingMode::onboarding);
        }
        return;
    }
    startBackground([this] { orchestrateScrollToTop(); });
}

void ExportController::sendAbortWithMetrics(const QString& message, std::optional<qint64> tabId,
    std::optional<qint64> windowId, std::optional<bool> isBackground)
{
    IPCArgs args;
    args.message = message;
    args.tabId = tabId;
    args.windowId = windowId;
    args.isBackground = isBackground;
    if (currentExport_ && tabId && *tabId == currentExport_->tabId) {
        // Lets the extension put the page back where the user had it.
        args.value = currentExport_->startScrollTop;
        args.windowX = currentExport_->startWindowScrollX;
        args.windowY = currentExport_->startWindowScrollY;
    }
    IPCMessage abort = envelope(QStringLiteral("command"), QStringLiteral("abort_export"), uuidString());
    abort.args = args;
    send(abort);
}

void ExportController::handleRequestAbort(const std::optional<IPCArgs>& args)
{
    const QString reason = args && args->message ? *args->message : QStringLiteral("User Cancelled");
    appendLog(QStringLiteral("Request Abort received: ") + reason);
    sendAbortWithMetrics(reason, args ? args->tabId : std::nullopt, args ? args->windowId : std::nullopt, std::nullopt);
    {
        std::lock_guard lock(abortLock_);
        isExportAborted_ = true;
    }
    currentExport_.reset();
    updateStatus(QStringLiteral("Ready"));
}

void ExportController::handleAbortExport(const std::optional<IPCArgs>& args)
{
    const std::optional<qint64> tabId = args ? args->tabId : std::nullopt;
    appendLog(QStringLiteral("[DEBUG] abort_export received: tabId=") + number(tabId.value_or(-1)));
    if (tabId && currentExport_ && *tabId != currentExport_->tabId) {
        appendLog(QStringLiteral("[INFO] Ignoring stale abort_export for tab ") + number(*tabId)
            + QStringLiteral(", current export is on tab ") + number(currentExport_->tabId));
        return;
    }
    const QString chatTitle = currentExport_ && currentExport_->chatTitle && !currentExport_->chatTitle->isEmpty()
        ? *currentExport_->chatTitle
        : QStringLiteral("Current Chat");
    {
        std::lock_guard lock(abortLock_);
        isExportAborted_ = true;
    }
    currentExport_.reset();
    const QString reason = args && args->message ? *args->message : QStringLiteral("Unknown reason");
    appendLog(QStringLiteral("🛑 Export aborted by extension: ") + reason);
    if (isTabBackgrounded()) {
        scheduleErrorNotification(chatTitle, QStringLiteral("Export failed: ") + reason,
            args ? args->tabId : std::nullopt, args ? args->windowId : std::nullopt);
    }
}

bool ExportController::isExportAborted() const
{
    std::lock_guard lock(abortLock_);
    return isExportAborted_;
}

bool ExportController::isTabBackgrounded() const
{
    std::lock_guard lock(timeoutLock_);
    return isTabBackgrounded_;
}

bool ExportController::isTimeoutResetRequested() const
{
    std::lock_guard lock(timeoutLock_);
    return timeoutResetRequested_;
}

// ---------------------------------------------------------------------------------------------
// Scroll to the start of the chat

qint64 ExportController::scrollStep(qint64 clientHeight, qint64 stallCount)
{
    const qint64 base = std::max<qint64>(static_cast<qint64>(static_cast<double>(clientHeight) * 0.35), 300);
    qint64 multiplier = 1;
    if (stallCount >= 11) {
        multiplier = 10;
    } else if (stallCount >= 3) {
        multiplier = stallCount - 1;
    }
    return base * multiplier;
}

bool ExportController::isSameSession(const std::optional<QString>& sessionId) const
{
    if (!sessionId) {
        return !currentExport_; // a run without a session goes on until one starts
    }
    return currentExport_ && currentExport_->sessionId == *sessionId;
}

void ExportController::sendScrollProgress(qint64 pass, std::optional<qint64> tabId, std::optional<qint64> windowId)
{
    UICommand ui;
    ui.type = QStringLiteral("progress");
    ui.message = QStringLiteral("Loading history... ") + number(pass * 100 / timings_.passLimit) + QStringLiteral("%");
    ui.current = pass;
    ui.total = timings_.passLimit;
    IPCArgs args;
    args.ui = ui;
    if (tabId && windowId) {
        args.session = SessionContext {*tabId, *windowId, QStringLiteral("scrolling")};
    }
    for (const char* command : {"update_ui", "ui_render"}) {
        IPCMessage message = envelope(QStringLiteral("request"), QString::fromLatin1(command), uuidString());
        message.args = args;
        send(message);
    }
}

void ExportController::orchestrateScrollToTop()
{
    {
        std::lock_guard lock(abortLock_);
        isExportAborted_ = false;
    }
    appendLog(QStringLiteral("Starting scroll-to-top orchestration (App driven)..."));

    std::optional<QString> sessionId;
    std::optional<qint64> tabId;
    std::optional<qint64> windowId;
    QString pendingId;
    runMainSync([&] {
        if (currentExport_) {
            sessionId = currentExport_->sessionId;
            tabId = currentExport_->tabId;
            windowId = currentExport_->windowId;
        }
        pendingId = pendingExportId_.value_or(QString());
    });

    // Ends the run as given up: the extension is told why and the session is dropped.
    const auto giveUp = [&](const QString& reason) {
        request(QStringLiteral("stopKeepAlive"));
        runMainSync([&] {
            sendAbortWithMetrics(reason, tabId, windowId, std::nullopt);
            if (isTabBackgrounded()) {
                scheduleErrorNotification(QStringLiteral("Current Chat"), QStringLiteral("Export failed: ") + reason,
                    tabId, windowId);
            }
            if (isSameSession(sessionId)) {
                currentExport_.reset();
            }
        });
        updateStatus(QStringLiteral("Ready"));
    };

    request(QStringLiteral("startKeepAlive"));

    const std::optional<IPCMessage> validation = request(QStringLiteral("validatePage"));
    if (resultValue(validation, "ok") == QStringLiteral("false")) {
        const QString reason = resultValue(validation, "message").value_or(
            QStringLiteral("This page doesn't appear to be a Poe chat"));
        appendLog(QStringLiteral("❌ Validation Failed: ") + reason);
        postMain([this, sessionId] {
            if (currentExport_ && isSameSession(sessionId)) {
                currentExport_->status = QStringLiteral("error");
            }
        });
        IPCArgs showArgs;
        showArgs.message = reason;
        request(QStringLiteral("showError"), showArgs);
        request(QStringLiteral("stopKeepAlive"));
        // Sent before the disconnect, which the server queues after it.
        runMainSync([&] { sendAbortWithMetrics(reason, tabId, windowId, std::nullopt); });
        if (WebSocketServer* server = webSocketServer_.load()) {
            server->disconnectAllClients();
        }
        updateStatus(QStringLiteral("Ready"));
        return;
    }

    appendLog(QStringLiteral("Export triggered: ") + pendingId);
    const std::optional<IPCMessage> metrics = request(QStringLiteral("scrollGetMetrics"));
    appendLog(QStringLiteral("Raw metrics: ")
        + (metrics && metrics->result
                ? QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(
                      [&] {
                          QVariantMap map;
                          for (auto it = metrics->result->cbegin(); it != metrics->result->cend(); ++it) {
                              map.insert(it.key(), it.value());
                          }
                          return map;
                      }()))
                        .toJson(QJsonDocument::Compact))
                : QStringLiteral("none")));
    if (!metrics || !metrics->result || metrics->result->isEmpty()) {
        // Scrolling blind could leave the user's page anywhere; stop instead.
        appendLog(QStringLiteral("❌ ") + kMetricsMissing);
        runMainSync([&] {
            if (isSameSession(sessionId)) {
                currentExport_.reset(); // before the abort: there is no start position to restore
            }
        });
        giveUp(kMetricsMissing);
        return;
    }

    const double startTop = parseReal(resultValue(metrics, "scrollTop")).value_or(0.0);
    const qint64 startX = parseInteger(resultValue(metrics, "windowScrollX")).value_or(0);
    const qint64 startY = parseInteger(resultValue(metrics, "windowScrollY")).value_or(0);
    qint64 lastHeight = parseInteger(resultValue(metrics, "scrollHeight")).value_or(0);
    const qint64 clientHeight = parseInteger(resultValue(metrics, "clientHeight")).value_or(0);
    const bool acceptsNegative = resultValue(metrics, "acceptsNegative") == QStringLiteral("true");
    appendLog(QStringLiteral("Captured start pos: ") + realText(startTop) + QStringLiteral(" (H: ") + number(lastHeight)
        + QStringLiteral(")"));
    runMainSync([&] {
        if (currentExport_ && isSameSession(sessionId)) {
            currentExport_->startScrollTop = startTop;
            currentExport_->startWindowScrollX = startX;
            currentExport_->startWindowScrollY = startY;
            currentExport_->status = QStringLiteral("scrolling");
        }
    });

    const auto abortedEnd = [&] {
        request(QStringLiteral("stopKeepAlive"));
        appendLog(QStringLiteral("Export aborted."));
        updateStatus(QStringLiteral("Ready"));
    };
    const auto restorePosition = [&] {
        IPCArgs scrollArgs;
        scrollArgs.value = startTop;
        request(QStringLiteral("scrollSet"), scrollArgs);
        IPCArgs windowArgs;
        windowArgs.windowX = startX;
        windowArgs.windowY = startY;
        request(QStringLiteral("windowSet"), windowArgs);
    };

    qint64 pass = 0;
    qint64 stallCount = 0;
    double position = startTop;
    for (;;) {
        if (isShuttingDown()) {
            return;
        }
        {
            std::lock_guard lock(timeoutLock_);
            if (timeoutResetRequested_) {
                timeoutResetRequested_ = false;
                pass = 0;
                appendLog(QStringLiteral("Timeout grace period reset."));
            }
            if (!isTabBackgrounded_) {
                pass = 0; // the limit counts only passes while the tab is in the background
            }
        }
        if (isExportAborted()) {
            abortedEnd();
            return;
        }
        if (extensionAbsentFor(timings_.disconnectGrace)) {
            // With no extension every request times out; in the front tab the pass limit
            // would never end the loop.
            appendLog(QStringLiteral("⚠️ No extension connected for ")
                + number(std::chrono::duration_cast<std::chrono::seconds>(timings_.disconnectGrace).count())
                + QStringLiteral(" s; stopping the export."));
            appendLog(QStringLiteral("Export aborted."));
            runMainSync([&] {
                if (isSameSession(sessionId)) {
                    currentExport_.reset();
                }
            });
            updateStatus(QStringLiteral("Ready"));
            return;
        }
        bool same = false;
        runMainSync([&] { same = isSameSession(sessionId); });
        if (!same) {
            appendLog(QStringLiteral("[INFO] Scroll loop exiting: export changed or cleared"));
            return;
        }

        IPCArgs query;
        query.selector = kStartOfChatSelector;
        const std::optional<IPCMessage> found = request(QStringLiteral("domQuery"), query);
        if (parseInteger(resultValue(found, "count")).value_or(0) > 0) {
            appendLog(QStringLiteral("Found Start of Chat marker."));
            break;
        }

        sendScrollProgress(pass, tabId, windowId);

        // The page grows and moves as older messages load: read where it is now.
        const std::optional<IPCMessage> current = request(QStringLiteral("scrollGetMetrics"));
        if (const std::optional<double> top = parseReal(resultValue(current, "scrollTop"))) {
            position = *top;
        }
        const std::optional<qint64> height = parseInteger(resultValue(current, "scrollHeight"));

        pause(timings_.shortSleep);
        if (isExportAborted()) {
            abortedEnd();
            return;
        }

        const qint64 step = scrollStep(clientHeight, stallCount);
        // Toward the top: in a reversed container the top is the most negative position.
        position = acceptsNegative ? position - static_cast<double>(step)
                                   : std::max(position - static_cast<double>(step), 0.0);
        IPCArgs scrollArgs;
        scrollArgs.value = position;
        request(QStringLiteral("scrollSet"), scrollArgs);
        if (height && *height != lastHeight) {
            stallCount = 0;
            lastHeight = *height;
        } else {
            ++stallCount;
        }

        pause(timings_.passSleep);
        ++pass;
        if (pass > timings_.passLimit - 1) {
            appendLog(kTimeoutMessage);
            // What was loaded so far is not the whole chat: put the page back and give up
            // rather than store a partial note as if it were complete.
            restorePosition();
            giveUp(kTimeoutMessage);
            return;
        }
    }

    appendLog(QStringLiteral("Top reached. Finalizing export."));
    request(QStringLiteral("stopKeepAlive"));
    appendLog(QStringLiteral("Restoring position..."));
    restorePosition();
    expandCollapsedCodeBlocks(tabId, windowId);

    bool same = false;
    runMainSync([&] {
        same = isSameSession(sessionId);
        if (same && currentExport_) {
            currentExport_->status = QStringLiteral("capturing");
        }
    });
    if (isExportAborted() || !same) {
        // Stopped while the page was being put back: no capture.
        appendLog(QStringLiteral("Export aborted."));
        updateStatus(QStringLiteral("Ready"));
        return;
    }
    IPCMessage capture = envelope(QStringLiteral("command"), QStringLiteral("capture_start"), uuidString());
    if (tabId && windowId) {
        IPCArgs captureArgs;
        captureArgs.session = SessionContext {*tabId, *windowId, QStringLiteral("capturing")};
        capture.args = captureArgs;
    }
    send(capture);
    appendLog(QStringLiteral("Requested capture start (App Driven)."));
}

void ExportController::expandCollapsedCodeBlocks(std::optional<qint64>, std::optional<qint64>)
{
    // The requests carry the session's tab and window through the request exchange.
    appendLog(QStringLiteral("Expanding collapsed code blocks..."));
    if (isExportAborted()) {
        return;
    }
    IPCArgs query;
    query.selector = kCollapsedCodeSelector;
    const qint64 count = parseInteger(resultValue(request(QStringLiteral("domQuery"), query), "count")).value_or(0);
    appendLog(QStringLiteral("Collapsed code blocks found: ") + number(count));
    if (count > 0) {
        IPCArgs click;
        click.selector = kCollapsedCodeSelector + QStringLiteral(" button");
        request(QStringLiteral("domClick"), click);
    }
}

// ---------------------------------------------------------------------------------------------
// Captured-page processing

std::shared_ptr<MarkdownConverter> ExportController::takeActiveConverter() const
{
    std::lock_guard lock(converterLock_);
    return activeConverter_;
}

void ExportController::setActiveConverter(std::shared_ptr<MarkdownConverter> converter)
{
    std::lock_guard lock(converterLock_);
    activeConverter_ = std::move(converter);
}

void ExportController::processHTML(const QByteArray& data, const QString& requestId,
    const std::optional<QString>& filename, const std::optional<QString>& completionRequestId)
{
    std::optional<QString> html = decodeUtf8(data);
    if (!html) {
        appendLog(QStringLiteral("[ERR] Failed to decode HTML from data"));
        if (completionRequestId) {
            sendErrorResponse(*completionRequestId, QStringLiteral("Failed to decode HTML"));
        }
        updateStatus(QStringLiteral("Ready"));
        return;
    }
    // The chat's address is main-thread state; read it there and start the work from there,
    // so the server thread never waits for the main thread.
    postMain([this, html = std::move(*html), requestId, filename, completionRequestId]() mutable {
        const QString chatUrl = lastActiveTabURL_;
        startBackground([this, html = std::move(html), requestId, filename, completionRequestId, chatUrl]() mutable {
            runProcessing(std::move(html), requestId, filename, completionRequestId, chatUrl);
            // Exports in a row reuse the memory of the one before; an idle app gives it back.
            postMain([this] { memoryReleaseTimer_->start(); });
        });
    });
}

void ExportController::sendExportProgress(const QString& completionRequestId, qint64 processed, qint64 total)
{
    const qint64 percent = total <= 0
        ? 0
        : static_cast<qint64>(static_cast<double>(processed) / static_cast<double>(total) * 100.0);
    UICommand ui;
    ui.type = QStringLiteral("progress");
    ui.message = QStringLiteral("Exporting... ") + number(percent) + QStringLiteral("%");
    ui.current = processed;
    ui.total = total;
    postMain([this, completionRequestId, ui] { sendPanel(completionRequestId, ui); });
}

void ExportController::requestAssetDownload(const QString& url)
{
    IPCMessage download = envelope(QStringLiteral("request"), QStringLiteral("download"), uuidString());
    IPCArgs args;
    args.url = url;
    download.args = args;
    send(download);
    appendLog(QStringLiteral("[SERVER] Sent download request for: ") + url);
}

void ExportController::runProcessing(QString html, QString requestId, std::optional<QString> filename,
    std::optional<QString> completionRequestId, QString chatUrl)
{
    if (isShuttingDown()) {
        return;
    }
    postMain([this] {
        if (currentExport_) {
            currentExport_->status = QStringLiteral("downloading");
        }
    });

    const auto conversionFailed = [&](const QString& message) {
        appendLog(QStringLiteral("❌ Conversion failed: ") + message);
        if (completionRequestId) {
            sendErrorResponse(*completionRequestId, message);
        }
        updateStatus(QStringLiteral("Ready"));
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
    setActiveConverter(converter);

    QString noteName = MarkdownConverter::sanitizeFilename(filename.value_or(converter->suggestedFilename()));
    if (noteName.isEmpty() || noteName == QStringLiteral(".") || noteName == QStringLiteral("..")) {
        noteName = QStringLiteral("export");
    }
    if (!noteName.endsWith(QStringLiteral(".md"))) {
        noteName += QStringLiteral(".md");
    }
    converter->updateFilename(noteName);

    converter->logger = [](const QString& text) { appendLog(QStringLiteral("[CONVERTER] ") + text); };
    converter->onProgress = [this, completionRequestId](qint64 processed, qint64 total) {
        if (completionRequestId) {
            sendExportProgress(*completionRequestId, processed, total);
        }
    };
    converter->onRequestDownload = [this](const QString& url) { requestAssetDownload(url); };
    if (timings_.converterWaits) {
        converter->setWaitDurations(timings_.converterWaits->deadline, timings_.converterWaits->stall,
            timings_.converterWaits->poll);
    }
    const QString title = converter->title();
    appendLog(QStringLiteral("Starting conversion for: ") + title);

    if (!VaultManager().getVaultURL()) {
        appendLog(kConfigureVault);
        if (completionRequestId) {
            sendErrorResponse(*completionRequestId, kConfigureVault);
        }
        if (isTabBackgrounded()) {
            postMain([this, title] {
                scheduleErrorNotification(title, QStringLiteral("Export Failed: ") + kConfigureVault, std::nullopt,
                    std::nullopt);
            });
        }
        ChunkAssembler::shared().clear(requestId);
        setActiveConverter(nullptr);
        updateStatus(QStringLiteral("Ready"));
        return;
    }

    QString note;
    try {
        converter->setTotalAssets(0);
        converter->process(true);
        appendLog(QStringLiteral("[INFO] Scanned ") + number(converter->totalAssets()) + QStringLiteral(" assets to download"));
        note = converter->process(false);
    } catch (const std::exception& error) {
        conversionFailed(QString::fromUtf8(error.what()));
        return;
    }
    appendLog(QStringLiteral("[INFO] Generated Markdown in-memory for: ") + noteName);
    ChunkAssembler::shared().clear(requestId);
    setActiveConverter(nullptr);

    try {
        const ExportResult result = VaultWriter().write(note, noteName, converter->assets());
        const ObsidianOpenInfo info = ObsidianOpenInfo::make(result.vaultName, result.relativePath);
        postMain([this, title, info, completionRequestId] {
            ExportHistoryItem item;
            item.title = title;
            item.finalPath = info.file;
            item.vaultName = info.vault;
            item.timestamp = QDateTime::currentDateTimeUtc();
            item.success = true;
            ExportHistoryManager::shared().add(item);
            appendLog(QStringLiteral("✅ Pushed to Obsidian"));
            scheduleSuccessNotification(title, info);
            if (completionRequestId) {
                sendSuccessResponse(*completionRequestId, info);
            }
            updateStatus(QStringLiteral("Ready"));
        });
    } catch (const std::exception& error) {
        const QString message = QString::fromUtf8(error.what());
        postMain([title, noteName, message] {
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
        if (isTabBackgrounded()) {
            postMain([this, title, message] {
                scheduleErrorNotification(title, QStringLiteral("Export failed: ") + message, std::nullopt, std::nullopt);
            });
        }
        if (completionRequestId) {
            sendErrorResponse(*completionRequestId, message);
        }
        updateStatus(QStringLiteral("Ready"));
    }
    appendLog(QStringLiteral("✅ Export Processed: ") + noteName);
}

// ---------------------------------------------------------------------------------------------
// Results

void ExportController::sendSuccessResponse(const QString& requestId, const std::optional<ObsidianOpenInfo>& info)
{
    postMain([this, requestId, info] {
        IPCMessage response = envelope(QStringLiteral("response"), QStringLiteral("exportMarkdown"), requestId);
        response.result = QMap<QString, QString> {
            {QStringLiteral("status"), QStringLiteral("success")},
            {QStringLiteral("message"), QStringLiteral("Saved to ") + (info ? info->vault : QStringLiteral("disk"))},
            {QStringLiteral("showOpenButton"), QStringLiteral("true")},
        };
        send(response);

        // No link in the panel: the extension asks for the note with "open_result".
        UICommand ui;
        ui.type = QStringLiteral("success");
        ui.message = QStringLiteral("Export complete");
        ui.autoHideMs = 3000;
        ui.showOpenButton = true;
        sendPanel(requestId, ui);

        currentExport_.reset();
    });
}

void ExportController::sendErrorResponse(const QString& requestId, const QString& message)
{
    postMain([this, requestId, message] { sendErrorResult(requestId, message, true, std::nullopt); });
}

void ExportController::sendErrorResult(const QString& requestId, const QString& message, bool endsSession,
    const std::optional<IPCArgs>& context)
{
    if (endsSession && currentExport_) {
        currentExport_->status = QStringLiteral("error");
    }
    IPCMessage response = envelope(QStringLiteral("error"), QStringLiteral("exportMarkdown"), requestId);
    response.error = IPCError {message};
    send(response);

    UICommand ui;
    ui.type = QStringLiteral("error");
    ui.message = message;
    ui.autoHideMs = 5000;
    if (context) {
        IPCArgs args = *context;
        args.ui = ui;
        for (const char* command : {"update_ui", "ui_render"}) {
            IPCMessage panel = envelope(QStringLiteral("command"), QString::fromLatin1(command), requestId);
            panel.args = args;
            send(panel);
        }
    } else {
        sendPanel(requestId, ui);
    }
    if (endsSession) {
        currentExport_.reset();
    }
}

QString ExportController::notificationTitle(const QString& chatTitle)
{
    QString title = chatTitle.isEmpty() ? QStringLiteral("Chat") : chatTitle;
    if (const std::optional<QString> cut = cutGraphemes(title, 60)) {
        title = *cut + QStringLiteral("…");
    }
    return QStringLiteral("Mossbridge: \"") + title + QStringLiteral("\"");
}

void ExportController::scheduleSuccessNotification(const QString& chatTitle, const ObsidianOpenInfo& info)
{
    const QString body = QStringLiteral("Click to open '") + (chatTitle.isEmpty() ? QStringLiteral("Note") : chatTitle)
        + QStringLiteral("' in Obsidian.");
    const QVariantMap userInfo {
        {QStringLiteral("obsidianUrl"), info.obsidianUrl},
        {QStringLiteral("vaultName"), info.vault},
        {QStringLiteral("filePath"), info.file},
    };
    if (shell_ == nullptr) {
        return;
    }
    if (const std::optional<QString> error = shell_->postNotification(notificationTitle(chatTitle), body, userInfo)) {
        appendLog(QStringLiteral("❌ Failed to schedule notification: ") + *error);
    }
}

void ExportController::scheduleErrorNotification(const QString& chatTitle, const QString& body,
    std::optional<qint64> tabId, std::optional<qint64> windowId)
{
    const std::optional<qint64> tab = tabId ? tabId : lastExportTabId_;
    const std::optional<qint64> window = windowId ? windowId : lastExportWindowId_;
    QVariantMap userInfo;
    if (tab && window) {
        userInfo.insert(QStringLiteral("focusTabId"), number(*tab));
        userInfo.insert(QStringLiteral("focusWindowId"), number(*window));
    }
    if (shell_ == nullptr) {
        return;
    }
    if (const std::optional<QString> error = shell_->postNotification(notificationTitle(chatTitle), body, userInfo)) {
        appendLog(QStringLiteral("❌ Failed to schedule notification: ") + *error);
    }
}
