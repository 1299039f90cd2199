#pragma once

#include "link/IpcMessage.h"

#include <QByteArray>
#include <QMap>
#include <QString>

class ExportController;

// Routes every message the extension sends: replies go to the request waiting for them,
// every other message is a command with a fixed handler. Runs on the server thread; work that
// belongs to the main thread is posted there.
class MessageDispatcher {
public:
    explicit MessageDispatcher(ExportController& controller);

    // A raw frame: decoded and dispatched, or logged when it is not an envelope.
    void receiveFrame(const QByteArray& bytes);
    // The server's own log lines, less the per-message ones.
    static void logServerLine(const QString& line);

    void handleIPCMessage(const IPCMessage& message);

private:
    // A "response" to `incoming` with the given result; the incoming command name unless
    // `command` names another.
    void reply(const IPCMessage& incoming, const QMap<QString, QString>& result, const QString& command = {});

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

    ExportController& controller_;
};
