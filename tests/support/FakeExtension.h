#pragma once

#include "link/IpcMessage.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

class QObject;
class QWebSocket;

// A scripted browser extension: a real WebSocket client living on its own thread. Every
// message it receives is recorded and handed to the script, on the client's thread.
class FakeExtension {
public:
    using Script = std::function<void(FakeExtension& extension, const IPCMessage& message)>;

    FakeExtension();
    ~FakeExtension();

    void setScript(Script script);

    // Opens a connection to the loopback server and waits until it is up (or the time is over).
    bool connectTo(quint16 port);
    // Closes the connection and waits until it is closed.
    void close();
    bool isConnected() const { return connected_.load(); }

    // Any thread.
    void send(const IPCMessage& message);
    void sendRaw(const QByteArray& text);

    // A reply to a request: same id and command, type "response".
    void respond(const IPCMessage& request, const QMap<QString, QString>& result = {});
    // A payload as "chunks" of base64 under one request id, `chunkSize` bytes each; the chunk
    // `leftOut` is not sent (a capture that never completes).
    void sendChunks(const QString& command, const QString& requestId, const QByteArray& payload,
        qsizetype chunkSize, std::optional<qsizetype> leftOut = std::nullopt);

    QList<IPCMessage> received() const;
    QList<IPCMessage> receivedWithCommand(const QString& command) const;
    int countCommand(const QString& command) const;
    void clearReceived();
    // Runs the main event loop until a message matches.
    bool waitFor(const std::function<bool(const IPCMessage&)>& match,
        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    bool waitForCommand(const QString& command, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // The first message that matches, once one arrived (nothing when the time is over).
    std::optional<IPCMessage> waitForFirst(const std::function<bool(const IPCMessage&)>& match,
        std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    static IPCMessage message(const QString& type, const QString& command, const QString& requestId,
        std::optional<IPCArgs> args = std::nullopt);

private:
    QThread thread_;
    QObject* context_ = nullptr;
    QWebSocket* socket_ = nullptr;
    std::atomic<bool> connected_ {false};

    mutable std::mutex mutex_;
    Script script_;
    QList<IPCMessage> received_;
};
