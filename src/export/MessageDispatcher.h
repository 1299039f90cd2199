#pragma once

#include "link/IpcMessage.h"
#include "link/WebSocketServerDelegate.h"

#include <QByteArray>
#include <QMap>
#include <QString>

class CapturedPageProcessor;
class ExportLifecycle;
class ExportResults;
class ExportRuntime;
class ExportSessionState;
class RequestExchange;
class SessionWatchdog;
struct ExportServices;

// The extension server's delegate: routes every message the extension sends (replies go to
// the request waiting for them, every other message is a command with a fixed handler) and
// follows the extension's connection. Runs on the server thread; work that belongs to the
// main thread is posted there.
class MessageDispatcher : public WebSocketServerDelegate {
public:
    MessageDispatcher(ExportRuntime& runtime, ExportSessionState& state, RequestExchange& exchange,
        ExportLifecycle& lifecycle, CapturedPageProcessor& processor, ExportResults& results,
        SessionWatchdog& watchdog, const ExportServices& services);

    // A raw frame: decoded and dispatched, or logged when it is not an envelope.
    void serverDidReceiveMessage(WebSocketServer& server, const QByteArray& message) override;
    void serverDidReceiveDecodedMessage(WebSocketServer& server, const QByteArray& message,
        const IPCMessage& decoded) override;
    // The server's own log lines, less the per-message ones.
    void serverDidLog(WebSocketServer& server, const QString& line) override;
    void serverDidConnect(WebSocketServer& server) override;
    void serverDidDisconnect(WebSocketServer& server) override;

    void handleIPCMessage(const IPCMessage& message);

private:
    // A "response" to `incoming` with the given result; the incoming command name unless
    // `command` names another.
    void reply(const IPCMessage& incoming, const QMap<QString, QString>& result, const QString& command = {});
    // A connection went away or was replaced: its downloads will never be answered.
    void failDownloadsOfGoneConnection();

    void handleScrollCompletion(const IPCMessage& message);
    void handleCheckDestination(const IPCMessage& message);
    void handleHandshake(const IPCMessage& message);
    void handleLog(const IPCMessage& message);
    void handleChunk(const IPCMessage& message);
    void handleSaveFileComplete(const IPCMessage& message);
    void handleSaveFileError(const IPCMessage& message);
    void handleExportMarkdown(const IPCMessage& message);
    void handleCaptureAnnounced(const IPCMessage& message, const QString& completeLine,
        const QString& incompleteLine);
    void handleSessionStatus(const IPCMessage& message);
    void handleResetTimeout();
    void handleUpdateTabStatus(const IPCMessage& message);
    void handleOpenResult();

    ExportRuntime& runtime_;
    ExportSessionState& state_;
    RequestExchange& exchange_;
    ExportLifecycle& lifecycle_;
    CapturedPageProcessor& processor_;
    ExportResults& results_;
    SessionWatchdog& watchdog_;
    const ExportServices& services_;
};
