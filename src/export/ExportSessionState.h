#pragma once

#include "export/ExportSession.h"

#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class MarkdownConverter;
class QTimer;

// The export controller's state: the running session and what is known of the last export and
// of the extension, the flags the scroll loop reads, and the conversions that are running.
// Every change goes through an operation here, so this is where to learn who may change what.
// Only the controller's parts change it; the shell reads it and sets the chat's address from
// the status signal.
//
// The session and the fields beside it belong to the main thread. The flags and the tables
// have a lock each; the connection flags are atomic.
class ExportSessionState {
public:
    using ScrollHandler = std::function<void(const std::optional<QString>& error)>;

    ExportSessionState();
    ~ExportSessionState();
    ExportSessionState(const ExportSessionState&) = delete;
    ExportSessionState& operator=(const ExportSessionState&) = delete;

    // ---- The running export (main thread) ----

    const std::optional<ExportSession>& currentExport() const { return currentExport_; }
    // Opens the session of an export for this tab and window, replacing any other; its end is
    // answered to `replyRequestId`. The tab and window also become the last export's.
    void startSession(qint64 tabId, qint64 windowId, const QString& replyRequestId);
    void endSession();
    // Ends the running session when it is the one `sessionId` names (see isSameSession).
    void endSessionOf(const std::optional<QString>& sessionId);
    // While a session runs.
    void setStatus(ExportSession::Status status);
    // The session `sessionId` names took the page's start position and scrolls.
    void beginScrolling(const std::optional<QString>& sessionId, double scrollTop, qint64 windowX, qint64 windowY);
    // The running session's page is being processed; its end is answered to
    // `completionRequestId` when there is one. The session's id, or nothing without one.
    std::optional<QString> beginProcessing(const std::optional<QString>& completionRequestId);
    // What a failure of the session `sessionId` is reported under.
    void setChatTitle(const std::optional<QString>& sessionId, const QString& title);

    // Whether the running session is the one work begun for `sessionId` belongs to; work
    // begun without a session goes on until one starts.
    bool isSameSession(const std::optional<QString>& sessionId) const;
    // Whether what work begun for `sessionId` brings may still act: yes for the running
    // session itself and for work begun without a session. Otherwise it is stale: it is logged
    // (as `what`) and must change nothing.
    bool isCurrentOutcome(const std::optional<QString>& sessionId, const QString& what) const;

    // ---- The last export, the extension and the chat page (main thread) ----

    std::optional<qint64> lastExportTabId() const { return lastExportTabId_; }
    std::optional<qint64> lastExportWindowId() const { return lastExportWindowId_; }
    // An export asked for without both ids: they are remembered, no session opens.
    void setLastExport(std::optional<qint64> tabId, std::optional<qint64> windowId);
    // A fresh id for the export being triggered.
    const QString& newPendingExport();
    const std::optional<QString>& pendingExportId() const { return pendingExportId_; }
    // The version the extension gave at its last "handshake"; nothing once it disconnected.
    const std::optional<QString>& connectedExtensionVersion() const { return connectedExtensionVersion_; }
    void setConnectedExtensionVersion(const std::optional<QString>& version);
    const QString& lastActiveTabURL() const { return lastActiveTabURL_; }
    void setLastActiveTabURL(const QString& url);
    // The extension connected or disconnected.
    void stopDisconnectTimer();

    // ---- The scroll loop's flags (any thread, each under its lock) ----

    // Set by an abort, cleared when a scroll run starts.
    void setExportAborted(bool aborted);
    bool isExportAborted() const;

    // The extension's report of the export's tab; a tab back in front restarts the pass limit.
    void updateTabStatus(bool background);
    // A new export starts with its tab in front.
    void clearTabBackgrounded();
    void requestTimeoutReset();
    struct PassLimit {
        bool resetRequested = false;
        bool tabBackgrounded = false;
    };
    // What a scroll pass reads for its limit; a requested reset is taken.
    PassLimit takePassLimit();
    bool isTabBackgrounded() const;
    bool isTimeoutResetRequested() const;

    // Removes and returns the handler waiting for a scroll's end under `requestId`.
    ScrollHandler takeScrollCompletionHandler(const QString& requestId);

    // ---- The conversions (any thread) ----

    // The converter of the running export, which the arriving attachments are fed to.
    std::shared_ptr<MarkdownConverter> activeConverter() const;
    // A processing run's converter: the active one from now on, and one of the running
    // conversions until removeConversion.
    void startConversion(const std::shared_ptr<MarkdownConverter>& converter);
    // Unless a newer run's converter has taken its place.
    void clearActiveConverter(const std::shared_ptr<MarkdownConverter>& converter);
    void removeConversion(const std::shared_ptr<MarkdownConverter>& converter);
    // Every conversion that is running, the replaced ones included: their downloads were asked
    // of the extension's connection of the time.
    QList<std::shared_ptr<MarkdownConverter>> conversions() const;

    // ---- The extension's connection (any thread) ----

    // By this controller's own connect and disconnect events.
    void noteConnected();
    void noteDisconnected();
    bool isExtensionConnected() const { return clientConnected_.load(); }
    // No client has been connected for at least `grace`.
    bool extensionAbsentFor(std::chrono::milliseconds grace) const;

private:
    // Main thread only.
    std::optional<ExportSession> currentExport_;
    std::optional<qint64> lastExportTabId_;
    std::optional<qint64> lastExportWindowId_;
    QString lastActiveTabURL_;
    std::optional<QString> pendingExportId_;
    std::optional<QString> connectedExtensionVersion_;
    // Never scheduled; the connect and disconnect events stop it, so that a timer set here
    // would not outlive the connection it was set for.
    QTimer* disconnectTimer_ = nullptr;

    mutable std::mutex abortLock_;
    bool isExportAborted_ = false;

    mutable std::mutex timeoutLock_;
    bool timeoutResetRequested_ = false;
    bool isTabBackgrounded_ = false;

    // Nothing adds a handler (the scroll loop waits on its own requests); "scroll_complete"
    // and "scroll_error" still look here.
    mutable std::mutex scrollLock_;
    QHash<QString, ScrollHandler> scrollCompletionHandlers_;

    mutable std::mutex converterLock_;
    std::shared_ptr<MarkdownConverter> activeConverter_;
    QList<std::shared_ptr<MarkdownConverter>> conversions_;

    std::atomic<bool> clientConnected_ {false};
    // Since when no client is connected (steady clock).
    std::atomic<std::chrono::steady_clock::rep> disconnectedSince_;
};
