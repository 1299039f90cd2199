#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <memory>

class WebSocketServerDelegate;

// The loopback WebSocket endpoint the browser extension connects to. The listener and every
// connection live on one server thread; the newest client always replaces older ones.
class WebSocketServer {
public:
    // `delegate` may be null; it must outlive the server or be cleared with setDelegate(nullptr).
    WebSocketServer(quint16 port, WebSocketServerDelegate* delegate);
    ~WebSocketServer();

    WebSocketServer(const WebSocketServer&) = delete;
    WebSocketServer& operator=(const WebSocketServer&) = delete;

    void setDelegate(WebSocketServerDelegate* delegate);

    // Starts listening on 127.0.0.1 and ::1. Returns once the attempt is over; a failure is
    // only logged.
    void start();
    // Stops listening and closes every connection without delegate calls.
    void stop();

    // The port actually listened on (useful with port 0 in tests); 0 when not listening.
    quint16 listeningPort() const;

    // Sends one text message to every open connection. Any thread.
    void send(const QByteArray& message);
    // Closes every connection and empties the table; no disconnect call follows. Any thread.
    void disconnectAllClients();

    // True when called on the server thread (where the delegate's message, connect and
    // disconnect calls run).
    bool isServerThread() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};
