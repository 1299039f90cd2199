#pragma once

#include "export/ExportSession.h"
#include "export/ExportTimings.h"
#include "export/ObsidianOpenInfo.h"
#include "link/IpcMessage.h"
#include "link/WebSocketServerDelegate.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class CapturedPageProcessor;
class ExportResults;
class ExportShell;
class MarkdownConverter;
class MessageDispatcher;
class QTimer;
class RequestExchange;
class ScrollOrchestrator;
class SessionWatchdog;
class WebSocketServer;

// Drives exports for the browser extension. Holds the export session, the flags and their
// locks, starts and stops exports, and wires the parts that do the rest: the message
// dispatcher, the request exchange, the scroll orchestration, the captured-page processing,
// the results, and the watchdog that ends a session nothing else would. Lives on the main thread; the server calls the delegate operations on its own
// thread, and long work runs on the controller's thread pool.
class ExportController : public QObject, public WebSocketServerDelegate {
    Q_OBJECT

public:
    static constexpr const char* minimumExtensionVersion = "0.10.0";

    explicit ExportController(ExportShell* shell, ExportTimings timings = {}, QObject* parent = nullptr);
    ~ExportController() override;

    // The server replies and requests go through; set by the owner, may be null.
    void setWebSocketServer(WebSocketServer* server);
    WebSocketServer* webSocketServer() const { return webSocketServer_.load(); }

    // Stops the scroll loop at its next check and waits (running the main event loop) until
    // every piece of background work has returned. Call on the main thread before the server
    // goes away; the destructor does it too.
    void shutdown();

    // WebSocketServerDelegate (server thread, except the log lines).
    void serverDidReceiveMessage(WebSocketServer& server, const QByteArray& message) override;
    void serverDidReceiveDecodedMessage(WebSocketServer& server, const QByteArray& message,
        const IPCMessage& decoded) override;
    void serverDidLog(WebSocketServer& server, const QString& line) override;
    void serverDidConnect(WebSocketServer& server) override;
    void serverDidDisconnect(WebSocketServer& server) override;

    // The dispatcher; runs on the server thread.
    void handleIPCMessage(const IPCMessage& message);

    // Request exchange. Blocks the calling thread until the reply or the time-out; never call
    // it on the main thread or the server thread (refused there).
    std::optional<IPCMessage> sendRequestAndWait(const QString& command,
        std::optional<IPCArgs> args, double timeout,
        const std::optional<QString>& explicitRequestId = std::nullopt);
    // The tab and window a request concerns; any thread (evaluated on the main thread).
    std::optional<SessionContext> getCurrentSessionContext();

    // Export start and abort (main thread).
    void handleInvokeExport(const IPCMessage& message);
    void triggerExportToObsidian();
    void sendAbortWithMetrics(const QString& message, std::optional<qint64> tabId,
        std::optional<qint64> windowId, std::optional<bool> isBackground);
    void handleRequestAbort(const std::optional<IPCArgs>& args);
    void handleAbortExport(const std::optional<IPCArgs>& args);

    // Scroll orchestration (a pool thread).
    void orchestrateScrollToTop();
    void expandCollapsedCodeBlocks(std::optional<qint64> tabId, std::optional<qint64> windowId);

    // Captured-page processing; not on the main thread.
    void processHTML(const QByteArray& data, const QString& requestId,
        const std::optional<QString>& filename, const std::optional<QString>& completionRequestId);
    void requestAssetDownload(const QString& url);

    // Results; any thread (the replies are built and sent on the main thread).
    void sendSuccessResponse(const QString& requestId, const std::optional<ObsidianOpenInfo>& info);
    void sendErrorResponse(const QString& requestId, const QString& message);
    // Notifications (main thread).
    void scheduleSuccessNotification(const QString& chatTitle, const ObsidianOpenInfo& info);
    void scheduleErrorNotification(const QString& chatTitle, const QString& body,
        std::optional<qint64> tabId, std::optional<qint64> windowId);

    // The status line; any thread.
    void updateStatus(const QString& text);

    // Main-thread state, for the shell and tests (main thread only).
    std::optional<ExportSession> currentExport() const { return currentExport_; }
    std::optional<qint64> lastExportTabId() const { return lastExportTabId_; }
    std::optional<qint64> lastExportWindowId() const { return lastExportWindowId_; }
    std::optional<QString> pendingExportId() const { return pendingExportId_; }
    std::optional<QString> connectedExtensionVersion() const { return connectedExtensionVersion_; }
    QString lastActiveTabURL() const { return lastActiveTabURL_; }
    void setLastActiveTabURL(const QString& url) { lastActiveTabURL_ = url; }

    // Lock-guarded flags; any thread.
    bool isExportAborted() const;
    bool isTabBackgrounded() const;
    bool isTimeoutResetRequested() const;

    // Pure helpers.
    // "Mossbridge: \"<title>\"" with "Chat" for an empty title and titles over 60 characters cut.
    static QString notificationTitle(const QString& chatTitle);
    // Numeric comparison: runs of digits compare as numbers.
    static bool isVersionOlder(const QString& version, const QString& than);
    // The scroll step for a client height and a count of passes without a height change.
    static qint64 scrollStep(qint64 clientHeight, qint64 stallCount);

private:
    // The parts work on the session state and the flags held here, under these locks.
    friend class MessageDispatcher;
    friend class RequestExchange;
    friend class ScrollOrchestrator;
    friend class CapturedPageProcessor;
    friend class ExportResults;
    friend class SessionWatchdog;

    using ScrollHandler = std::function<void(const std::optional<QString>& error)>;

    static const QString& configureVaultMessage();

    // Queues work on the main thread (dropped if the controller is gone first).
    void postMain(std::function<void()> work);
    // Runs work on the main thread and waits for it.
    void runMainSync(const std::function<void()>& work);
    void startBackground(std::function<void()> work);
    bool isShuttingDown() const { return shuttingDown_.load(); }
    // Sleeps, waking early at shutdown.
    void pause(std::chrono::milliseconds duration);

    void send(const IPCMessage& message);
    // Whether the running session is still the one a scroll run started with (main thread).
    bool isSameSession(const std::optional<QString>& sessionId) const;

    // Main thread. Whether what work begun for `sessionId` brings may still act: yes for the
    // running session itself and for work begun without a session. Otherwise it is stale: it
    // is logged (as `what`) and must change nothing.
    bool isCurrentOutcome(const std::optional<QString>& sessionId, const QString& what) const;
    // Main thread: the status line goes back to "Ready" unless an export is running.
    void showReadyWhenIdle();

    std::shared_ptr<MarkdownConverter> takeActiveConverter() const;
    void setActiveConverter(std::shared_ptr<MarkdownConverter> converter);
    // Unless a newer run's converter has taken its place.
    void clearActiveConverter(const std::shared_ptr<MarkdownConverter>& converter);
    // Every conversion that is running, the replaced ones included: their downloads were asked
    // of the extension's connection of the time.
    void addConversion(const std::shared_ptr<MarkdownConverter>& converter);
    void removeConversion(const std::shared_ptr<MarkdownConverter>& converter);
    // A connection went away or was replaced: its downloads will never be answered.
    void failDownloadsOfGoneConnection();
    bool isExtensionConnected() const { return clientConnected_.load(); }
    bool extensionAbsentFor(std::chrono::milliseconds grace) const;
    // A processing run has returned (pool thread).
    void processingEnded();

    ExportShell* shell_;
    const ExportTimings timings_;

    // Main thread only.
    QString lastActiveTabURL_;
    std::optional<qint64> lastExportTabId_;
    std::optional<qint64> lastExportWindowId_;
    std::optional<QString> pendingExportId_;
    std::optional<ExportSession> currentExport_;
    std::optional<QString> connectedExtensionVersion_;
    QTimer* disconnectTimer_ = nullptr;  // never scheduled; stopped on connect and disconnect
    QTimer* memoryReleaseTimer_ = nullptr; // started when a processing run ends

    mutable std::mutex converterLock_;
    std::shared_ptr<MarkdownConverter> activeConverter_;
    QList<std::shared_ptr<MarkdownConverter>> conversions_;

    mutable std::mutex abortLock_;
    bool isExportAborted_ = false;

    mutable std::mutex scrollLock_;
    QHash<QString, ScrollHandler> scrollCompletionHandlers_;

    mutable std::mutex timeoutLock_;
    bool timeoutResetRequested_ = false;
    bool isTabBackgrounded_ = false;

    std::atomic<WebSocketServer*> webSocketServer_ {nullptr};

    // Whether an extension client is connected, by this controller's own connect and
    // disconnect events, and since when none is (steady clock).
    std::atomic<bool> clientConnected_ {false};
    std::atomic<std::chrono::steady_clock::rep> disconnectedSince_;

    std::atomic<bool> shuttingDown_ {false};
    std::mutex pauseMutex_;
    std::condition_variable pauseWake_;

    // The parts, wired to this controller.
    std::unique_ptr<MessageDispatcher> dispatcher_;
    std::unique_ptr<RequestExchange> exchange_;
    std::unique_ptr<ScrollOrchestrator> scroll_;
    std::unique_ptr<CapturedPageProcessor> processor_;
    std::unique_ptr<ExportResults> results_;
    std::unique_ptr<SessionWatchdog> watchdog_;
    int dropObserverToken_ = 0;

    // Last: destroyed first, after shutdown waited for its work.
    QThreadPool pool_;
};
