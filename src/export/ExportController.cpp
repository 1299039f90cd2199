#include "export/ExportController.h"

#include "convert/MarkdownConverter.h"
#include "core/ActivityLog.h"
#include "core/AppState.h"
#include "core/Dispatch.h"
#include "core/MemoryTuning.h"
#include "core/UuidText.h"
#include "core/VersionNumber.h"
#include "export/CapturedPageProcessor.h"
#include "export/ExportResults.h"
#include "export/ExportShell.h"
#include "export/ExportText.h"
#include "export/MessageDispatcher.h"
#include "export/RequestExchange.h"
#include "export/ScrollOrchestrator.h"
#include "export/SessionWatchdog.h"
#include "link/ChunkAssembler.h"
#include "link/WebSocketServer.h"
#include "storage/VaultManager.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

ExportController::ExportController(ExportShell* shell, ExportTimings timings, QObject* parent)
    : QObject(parent)
    , shell_(shell)
    , timings_(timings)
    , disconnectedSince_(std::chrono::steady_clock::now().time_since_epoch().count())
    , dispatcher_(std::make_unique<MessageDispatcher>(*this))
    , exchange_(std::make_unique<RequestExchange>(*this))
    , scroll_(std::make_unique<ScrollOrchestrator>(*this))
    , processor_(std::make_unique<CapturedPageProcessor>(*this))
    , results_(std::make_unique<ExportResults>(*this))
    , watchdog_(std::make_unique<SessionWatchdog>(*this))
{
    pool_.setMaxThreadCount(8);
    dropObserverToken_ = ChunkAssembler::shared().addDropObserver(
        [this](const QStringList& requestIds) { watchdog_->payloadsDropped(requestIds); });
    memoryReleaseTimer_ = new QTimer(this);
    memoryReleaseTimer_->setSingleShot(true);
    memoryReleaseTimer_->setInterval(timings_.memoryReleaseDelay);
    connect(memoryReleaseTimer_, &QTimer::timeout, this, [] { releaseFreeMemory(); });
}

ExportController::~ExportController()
{
    ChunkAssembler::shared().removeDropObserver(dropObserverToken_);
    shutdown();
}

const QString& ExportController::configureVaultMessage()
{
    static const QString text = QStringLiteral("Please configure Obsidian Vault in Mossbridge App Settings.");
    return text;
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

void ExportController::send(const IPCMessage& message)
{
    if (WebSocketServer* server = webSocketServer_.load()) {
        server->send(message.encode());
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
    dispatcher_->receiveFrame(bytes);
}

void ExportController::serverDidReceiveDecodedMessage(WebSocketServer&, const QByteArray&,
    const IPCMessage& decoded)
{
    handleIPCMessage(decoded);
}

void ExportController::serverDidLog(WebSocketServer&, const QString& line)
{
    MessageDispatcher::logServerLine(line);
}

void ExportController::serverDidConnect(WebSocketServer&)
{
    // A new client replaces the old one without a disconnect: what the old one was asked for
    // is not coming.
    failDownloadsOfGoneConnection();
    clientConnected_.store(true);
    AppState::shared().setExtensionConnected(true);
    postMain([this] {
        if (disconnectTimer_ != nullptr) {
            disconnectTimer_->stop();
        }
    });
    appendLog(QStringLiteral("WebSocket Client connected"));
    if (AppState::shared().showOnboarding()) {
        send(ExportText::appMessage(QStringLiteral("command"), QStringLiteral("close_connect_tab"), UuidText::fresh()));
    }
}

void ExportController::serverDidDisconnect(WebSocketServer&)
{
    disconnectedSince_.store(std::chrono::steady_clock::now().time_since_epoch().count());
    clientConnected_.store(false);
    failDownloadsOfGoneConnection();
    AppState::shared().setExtensionConnected(false);
    postMain([this] {
        connectedExtensionVersion_.reset();
        if (disconnectTimer_ != nullptr) {
            disconnectTimer_->stop();
        }
    });
    appendLog(QStringLiteral("WebSocket Client disconnected"));
}

void ExportController::clearActiveConverter(const std::shared_ptr<MarkdownConverter>& converter)
{
    std::lock_guard lock(converterLock_);
    if (activeConverter_ == converter) {
        activeConverter_.reset();
    }
}

void ExportController::addConversion(const std::shared_ptr<MarkdownConverter>& converter)
{
    std::lock_guard lock(converterLock_);
    conversions_.append(converter);
}

void ExportController::removeConversion(const std::shared_ptr<MarkdownConverter>& converter)
{
    std::lock_guard lock(converterLock_);
    conversions_.removeOne(converter);
}

void ExportController::failDownloadsOfGoneConnection()
{
    QList<std::shared_ptr<MarkdownConverter>> running;
    {
        std::lock_guard lock(converterLock_);
        running = conversions_;
    }
    // Outside the lock: failing a download runs the converter's hooks.
    for (const std::shared_ptr<MarkdownConverter>& converter : std::as_const(running)) {
        converter->failPendingDownloads(ExportText::connectionGone());
    }
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
// The parts' entries

void ExportController::handleIPCMessage(const IPCMessage& message)
{
    dispatcher_->handleIPCMessage(message);
}

std::optional<IPCMessage> ExportController::sendRequestAndWait(const QString& command,
    std::optional<IPCArgs> args, double timeout, const std::optional<QString>& explicitRequestId)
{
    return exchange_->sendRequestAndWait(command, std::move(args), timeout, explicitRequestId);
}

void ExportController::orchestrateScrollToTop()
{
    scroll_->orchestrateScrollToTop();
}

void ExportController::expandCollapsedCodeBlocks(std::optional<qint64> tabId, std::optional<qint64> windowId)
{
    scroll_->expandCollapsedCodeBlocks(tabId, windowId);
}

qint64 ExportController::scrollStep(qint64 clientHeight, qint64 stallCount)
{
    return ScrollOrchestrator::scrollStep(clientHeight, stallCount);
}

void ExportController::processHTML(const QByteArray& data, const QString& requestId,
    const std::optional<QString>& filename, const std::optional<QString>& completionRequestId)
{
    processor_->processHTML(data, requestId, filename, completionRequestId);
}

void ExportController::requestAssetDownload(const QString& url)
{
    processor_->requestAssetDownload(url);
}

void ExportController::sendSuccessResponse(const QString& requestId, const std::optional<ObsidianOpenInfo>& info)
{
    results_->sendSuccessResponse(requestId, info);
}

void ExportController::sendErrorResponse(const QString& requestId, const QString& message)
{
    results_->sendErrorResponse(requestId, message);
}

void ExportController::scheduleSuccessNotification(const QString& chatTitle, const ObsidianOpenInfo& info)
{
    results_->scheduleSuccessNotification(chatTitle, info);
}

void ExportController::scheduleErrorNotification(const QString& chatTitle, const QString& body,
    std::optional<qint64> tabId, std::optional<qint64> windowId)
{
    results_->scheduleErrorNotification(chatTitle, body, tabId, windowId);
}

QString ExportController::notificationTitle(const QString& chatTitle)
{
    return ExportResults::notificationTitle(chatTitle);
}

// ---------------------------------------------------------------------------------------------
// Session state

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

bool ExportController::isCurrentOutcome(const std::optional<QString>& sessionId, const QString& what) const
{
    if (!sessionId || (currentExport_ && currentExport_->sessionId == *sessionId)) {
        return true;
    }
    appendLog(QStringLiteral("[INFO] Ignoring stale ") + what + QStringLiteral(" of session ") + *sessionId
        + (currentExport_ ? QStringLiteral(", current session is ") + currentExport_->sessionId
                          : QStringLiteral(", no export is running")));
    return false;
}

void ExportController::showReadyWhenIdle()
{
    if (!currentExport_) {
        updateStatus(QStringLiteral("Ready"));
    }
}

bool ExportController::isSameSession(const std::optional<QString>& sessionId) const
{
    if (!sessionId) {
        return !currentExport_; // a run without a session goes on until one starts
    }
    return currentExport_ && currentExport_->sessionId == *sessionId;
}

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

void ExportController::processingEnded()
{
    // Exports in a row reuse the memory of the one before; an idle app gives it back.
    postMain([this] { memoryReleaseTimer_->start(); });
}

// ---------------------------------------------------------------------------------------------
// Export start, abort and status

bool ExportController::isVersionOlder(const QString& version, const QString& than)
{
    return VersionNumber::compare(version, than) < 0;
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
        results_->sendErrorResult(message.request_id,
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
                results_->sendErrorResult(message.request_id, QStringLiteral("Export already in progress in another tab"),
                    false, askingTab);
                return;
            }
            ExportSession session;
            session.sessionId = UuidText::fresh();
            session.tabId = *args->tabId;
            session.windowId = *args->windowId;
            session.status = QStringLiteral("starting");
            session.replyRequestId = message.request_id;
            currentExport_ = session;
            lastExportTabId_ = session.tabId;
            lastExportWindowId_ = session.windowId;
            watchdog_->watch();
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
    pendingExportId_ = UuidText::fresh();
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
            scheduleErrorNotification(QStringLiteral("Current Chat"), QStringLiteral("Export Failed: ") + configureVaultMessage(),
                tabId, windowId);
        }
        sendAbortWithMetrics(configureVaultMessage(), tabId, windowId, std::nullopt);
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
    IPCMessage abort = ExportText::appMessage(QStringLiteral("command"), QStringLiteral("abort_export"), UuidText::fresh());
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
    appendLog(QStringLiteral("[DEBUG] abort_export received: tabId=") + QString::number(tabId.value_or(-1)));
    if (tabId && currentExport_ && *tabId != currentExport_->tabId) {
        appendLog(QStringLiteral("[INFO] Ignoring stale abort_export for tab ") + QString::number(*tabId)
            + QStringLiteral(", current export is on tab ") + QString::number(currentExport_->tabId));
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
