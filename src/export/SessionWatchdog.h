#pragma once

#include "export/ExportSession.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

class ChunkAssembler;
class ExportResults;
class ExportRuntime;
class ExportSessionState;
class QTimer;

// Ends an export session that nothing else would end, so that no export keeps the session
// (and with it every other tab's export) forever: a capture whose page never arrives or stays
// incomplete, an extension gone during the capture, processing that does not finish. Such an
// export ends like a failed one: an error reply, a failed history entry with the reason, the
// failure notification, and the session ends.
//
// Main thread, except where an operation says otherwise.
class SessionWatchdog {
public:
    using PageHandler = std::function<void(const QByteArray& page)>;

    // Learns of the chunk store's dropped payloads while it lives.
    SessionWatchdog(ExportRuntime& runtime, ExportSessionState& state, ExportResults& results, ChunkAssembler& chunks);
    ~SessionWatchdog();
    SessionWatchdog(const SessionWatchdog&) = delete;
    SessionWatchdog& operator=(const SessionWatchdog&) = delete;

    // A session exists: check it regularly until none does.
    void watch();
    // The running session has asked for its page ("capture_start" is about to go out).
    void captureRequested();
    // The running session's page is being processed.
    void processingStarted();

    // Server thread: a chunk of a captured page arrived.
    void notePageChunk(const QString& requestId);
    // Server thread: the message under `requestId` announced a page that is not whole yet.
    // After a short grace for late chunks `processPage` gets it after all (main thread), or
    // its export fails.
    void captureIncomplete(const QString& requestId, PageHandler processPage);

private:
    using Clock = std::chrono::steady_clock;

    // Any thread: the chunk store dropped these payloads.
    void payloadsDropped(const QStringList& requestIds);
    void check();
    void graceOver(const QString& requestId, const PageHandler& processPage, const std::optional<QString>& sessionId);
    // The running session's id when it is in `status` and is the one noted in `noted`.
    bool sessionIs(ExportSession::Status status, const std::optional<QString>& noted) const;
    // Ends the session `sessionId` as failed, answering `replyTo` (the extension's waiting
    // message). Without a session (a page handed over outside one) only the reply is sent.
    void fail(const QString& reason, const std::optional<QString>& sessionId, const std::optional<QString>& replyTo);
    static QString seconds(std::chrono::milliseconds duration);

    ExportRuntime& runtime_;
    ExportSessionState& state_;
    ExportResults& results_;
    ChunkAssembler& chunks_;
    QTimer* timer_ = nullptr;
    int dropObserverToken_ = 0;

    std::optional<QString> captureSession_;
    Clock::time_point captureSince_;
    std::optional<QString> processingSession_;
    Clock::time_point processingSince_;

    // The request id of the latest page chunk since the capture was asked for; server thread
    // and main thread.
    std::mutex pageLock_;
    std::optional<QString> pageRequestId_;
};
