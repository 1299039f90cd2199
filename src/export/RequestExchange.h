#pragma once

#include "link/IpcMessage.h"

#include <QHash>
#include <QString>

#include <functional>
#include <mutex>
#include <optional>

class ExportRuntime;
class ExportSessionState;

// Requests to the extension that wait for their reply: each registers a handler under its
// request id, the dispatcher hands a reply to it, and the waiting thread gives up after its
// time-out. Every request carries the tab and window it concerns.
class RequestExchange {
public:
    RequestExchange(ExportRuntime& runtime, const ExportSessionState& state);

    // Blocks the calling thread until the reply or the time-out; refused on the main thread
    // and on the server thread.
    std::optional<IPCMessage> sendRequestAndWait(const QString& command, std::optional<IPCArgs> args,
        double timeout, const std::optional<QString>& explicitRequestId = std::nullopt);
    // The same with the export's standard time-out and a fresh id.
    std::optional<IPCMessage> request(const QString& command, std::optional<IPCArgs> args = {});

    // Hands a reply to the request waiting for it; false when none waits (any more).
    bool deliverReply(const IPCMessage& reply);

    // The running session's tab, window and status, or else the last export's tab and window;
    // any thread (read on the main thread).
    std::optional<SessionContext> getCurrentSessionContext();

private:
    using ReplyHandler = std::function<void(const IPCMessage&)>;

    ExportRuntime& runtime_;
    const ExportSessionState& state_;
    std::mutex pendingLock_;
    QHash<QString, ReplyHandler> pendingResponses_;
};
