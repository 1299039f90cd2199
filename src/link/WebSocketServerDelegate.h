#pragma once

#include "link/IpcMessage.h"

#include <QByteArray>
#include <QString>

class WebSocketServer;

// Receiver of the server's events. Message, connect and disconnect calls arrive on the server
// thread; log lines arrive on whichever thread produced them.
class WebSocketServerDelegate {
public:
    virtual ~WebSocketServerDelegate() = default;

    // One received message that passed the envelope check, as raw bytes.
    virtual void serverDidReceiveMessage(WebSocketServer& server, const QByteArray& message) = 0;
    // What the server calls: the same message with the envelope its check decoded, so that a
    // receiver of multi-megabyte chunks need not decode them twice. Forwards the bytes unless
    // overridden.
    virtual void serverDidReceiveDecodedMessage(WebSocketServer& server, const QByteArray& message,
        const IPCMessage& /*decoded*/)
    {
        serverDidReceiveMessage(server, message);
    }
    virtual void serverDidLog(WebSocketServer& server, const QString& line) = 0;
    virtual void serverDidConnect(WebSocketServer& server) = 0;
    // Only for a connection that was still in the table when it failed or closed.
    virtual void serverDidDisconnect(WebSocketServer& server) = 0;
};
