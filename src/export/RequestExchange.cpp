#include "export/RequestExchange.h"

#include "core/ActivityLog.h"
#include "core/Dispatch.h"
#include "core/UuidText.h"
#include "export/ExportRuntime.h"
#include "export/ExportSessionState.h"
#include "export/ExportText.h"
#include "link/WebSocketServer.h"

#include <algorithm>
#include <memory>
#include <semaphore>

RequestExchange::RequestExchange(ExportRuntime& runtime, const ExportSessionState& state)
    : runtime_(runtime)
    , state_(state)
{
}

std::optional<SessionContext> RequestExchange::getCurrentSessionContext()
{
    std::optional<SessionContext> context;
    runtime_.runMainSync([this, &context] {
        if (const std::optional<ExportSession>& session = state_.currentExport()) {
            context = SessionContext {session->tabId, session->windowId, ExportSession::wireText(session->status)};
        } else if (state_.lastExportTabId() && state_.lastExportWindowId()) {
            context = SessionContext {*state_.lastExportTabId(), *state_.lastExportWindowId(), std::nullopt};
        }
    });
    return context;
}

std::optional<IPCMessage> RequestExchange::sendRequestAndWait(const QString& command,
    std::optional<IPCArgs> args, double timeout, const std::optional<QString>& explicitRequestId)
{
    WebSocketServer* server = runtime_.webSocketServer();
    if (isMainThread() || (server != nullptr && server->isServerThread())) {
        // The reply arrives on the server thread and the session is read on the main thread:
        // waiting on either would never end.
        appendLog(QStringLiteral("❌ Refused to wait for the reply to ") + command
            + QStringLiteral(" on the main or server thread"));
        Q_ASSERT_X(false, "RequestExchange::sendRequestAndWait", "called on the main or server thread");
        return std::nullopt;
    }
    if (runtime_.isShuttingDown()) {
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
    const QString requestId = explicitRequestId.value_or(UuidText::fresh());
    IPCMessage message = ExportText::appMessage(QStringLiteral("request"), command, requestId);
    message.args = args;

    struct Box {
        std::binary_semaphore ready {0};
        std::mutex mutex;
        std::optional<IPCMessage> message;
    };
    auto box = std::make_shared<Box>();
    {
        std::lock_guard lock(pendingLock_);
        pendingResponses_.insert(requestId, [box](const IPCMessage& reply) {
            {
                std::lock_guard boxLock(box->mutex);
                box->message = reply;
            }
            box->ready.release();
        });
    }

    runtime_.send(message);

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

std::optional<IPCMessage> RequestExchange::request(const QString& command, std::optional<IPCArgs> args)
{
    const double seconds = std::chrono::duration<double>(runtime_.timings().requestTimeout).count();
    return sendRequestAndWait(command, std::move(args), seconds, std::nullopt);
}

bool RequestExchange::deliverReply(const IPCMessage& reply)
{
    ReplyHandler handler;
    {
        std::lock_guard lock(pendingLock_);
        handler = pendingResponses_.take(reply.request_id);
    }
    if (!handler) {
        return false;
    }
    handler(reply); // outside the lock
    return true;
}
