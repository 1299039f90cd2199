#include "link/WebSocketServer.h"

#include "core/AppIdentity.h"
#include "core/UuidText.h"
#include "link/IpcMessage.h"
#include "link/SocketOwnerLookup.h"
#include "link/WebSocketServerDelegate.h"

#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketCorsAuthenticator>
#include <QWebSocketServer>

#include <unistd.h>

#include <atomic>
#include <memory>
#include <mutex>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr quint64 maxMessageSize = 4 * 1024 * 1024;
constexpr int handshakeTimeoutMs = 10000;
// A request head longer than this is not waited for before the refusal is sent.
constexpr qsizetype maxRequestHead = 16 * 1024;
constexpr char forbiddenResponse[] = "HTTP/1.1 403 Access Forbidden\r\n"
                                     "Connection: close\r\n"
                                     "Content-Length: 0\r\n\r\n";

// What the server knows about one connection. Touched only on the server thread.
struct ConnectionState {
    QString id;
    QWebSocket* socket = nullptr;
    bool cancelled = false; // closed by this side: replaced, disconnected or stopped
    bool failed = false;
    QString error;
    bool finished = false; // the disconnect has been handled
};

using Connection = std::shared_ptr<ConnectionState>;

template <typename Socket>
QString endpointText(const Socket* socket)
{
    const QHostAddress address = socket->peerAddress();
    const QString port = QString::number(socket->peerPort());
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        return u'[' + address.toString() + "]:"_L1 + port;
    }
    return address.toString() + u':' + port;
}

// Browsers always send the page's origin with a WebSocket upgrade, and web pages are not kept
// from connecting to loopback ports. Only the extension (or a local tool sending no origin)
// may drive this endpoint.
bool isAllowedOrigin(const QString& origin)
{
    if (origin.isEmpty()) {
        return true;
    }
    const qsizetype colon = origin.indexOf(u':');
    if (colon <= 0) {
        return false; // "null" and anything without a scheme
    }
    const QStringView scheme = QStringView(origin).left(colon);
    return scheme.compare("chrome-extension"_L1, Qt::CaseInsensitive) == 0
        || scheme.compare("moz-extension"_L1, Qt::CaseInsensitive) == 0;
}

// Answers 403 once the client's request head has been read (closing with unread data would
// reset the connection before the client sees the answer), then hangs up.
void refuseUpgrade(QTcpSocket* socket)
{
    struct Request {
        QByteArray head;
        bool answered = false;
    };
    auto request = std::make_shared<Request>();
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, request] {
        const QByteArray bytes = socket->readAll();
        if (request->answered) {
            return; // later bytes are only drained
        }
        request->head.append(bytes);
        if (request->head.contains("\r\n\r\n") || request->head.size() > maxRequestHead) {
            request->answered = true;
            request->head.clear();
            socket->write(forbiddenResponse, qint64(sizeof forbiddenResponse - 1));
            socket->disconnectFromHost();
        }
    });
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(handshakeTimeoutMs, socket, [socket] { socket->abort(); });
}

} // namespace

class WebSocketServer::Private {
public:
    Private(WebSocketServer& owner, quint16 requestedPort, WebSocketServerDelegate* initialDelegate)
        : q(owner)
        , port(requestedPort)
        , delegate(initialDelegate)
    {
        thread.setObjectName(AppIdentity::idWith(".websocket.server"));
        context = new QObject;
        context->moveToThread(&thread);
        thread.start();
    }

    ~Private()
    {
        thread.quit();
        thread.wait();
        delete context; // the thread is gone; whatever is left under it goes with it
    }

    bool onServerThread() const { return QThread::currentThread() == &thread; }

    template <typename Fn>
    void runBlocking(Fn&& fn)
    {
        if (onServerThread()) {
            fn();
        } else {
            QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
        }
    }

    // Work from other threads is queued so that it runs in the order it was asked for.
    template <typename Fn>
    void runQueued(Fn&& fn)
    {
        if (onServerThread()) {
            fn();
        } else {
            QMetaObject::invokeMethod(context, std::forward<Fn>(fn), Qt::QueuedConnection);
        }
    }

    template <typename Fn>
    void withDelegate(Fn&& fn)
    {
        // Held across the call so that setDelegate(nullptr) returns only once no call is
        // running; recursive because a delegate may call back into the server.
        std::lock_guard guard(delegateLock);
        if (delegate != nullptr) {
            fn(*delegate);
        }
    }

    void log(const QString& line)
    {
        withDelegate([&](WebSocketServerDelegate& d) { d.serverDidLog(q, line); });
    }

    // --- server thread ---

    void startListening()
    {
        if (!listeners.isEmpty()) {
            return;
        }
        stopped = false;

        QTcpServer* v4 = makeListener();
        if (!v4->listen(QHostAddress::LocalHost, port)) {
            log(u"WebSocketServer failed to start: "_s + v4->errorString());
            delete v4;
            return;
        }
        upgrader = makeUpgrader();
        listeners.append(v4);
        const quint16 actual = v4->serverPort();

        QTcpServer* v6 = makeListener();
        if (v6->listen(QHostAddress::LocalHostIPv6, actual)) {
            listeners.append(v6);
        } else {
            log(u"WebSocketServer: ::1 unavailable ("_s + v6->errorString()
                + u"); serving 127.0.0.1 only"_s);
            delete v6;
        }

        listening.store(actual);
        log(u"WebSocketServer listening on port "_s + QString::number(actual) + u" (Loopback only)"_s);
    }

    // Accepts the TCP connections; each is checked, then upgraded or refused.
    QTcpServer* makeListener()
    {
        auto* server = new QTcpServer(context);
        QObject::connect(server, &QTcpServer::newConnection, context, [this, server] {
            while (server->hasPendingConnections()) {
                if (QTcpSocket* socket = server->nextPendingConnection()) {
                    admit(socket);
                }
            }
        });
        return server;
    }

    // Runs the WebSocket handshake on the admitted sockets; it listens on nothing itself.
    QWebSocketServer* makeUpgrader()
    {
        auto* server = new QWebSocketServer(u"Mossbridge"_s, QWebSocketServer::NonSecureMode, context);
        server->setHandshakeTimeout(handshakeTimeoutMs);
        // Refusing here makes the server answer "403 Access Forbidden" and close the socket.
        QObject::connect(server, &QWebSocketServer::originAuthenticationRequired, context,
            [this](QWebSocketCorsAuthenticator* authenticator) {
                const QString origin = authenticator->origin();
                if (isAllowedOrigin(origin)) {
                    log(u"Handshake: Check skipped (pinnedChromeExtensionId is empty)"_s);
                    authenticator->setAllowed(true);
                } else {
                    log(u"Handshake: Rejected origin "_s + origin);
                    authenticator->setAllowed(false);
                }
            },
            Qt::DirectConnection);
        QObject::connect(server, &QWebSocketServer::newConnection, context, [this, server] {
            while (server->hasPendingConnections()) {
                if (QWebSocket* socket = server->nextPendingConnection()) {
                    handleNewConnection(socket);
                }
            }
        });
        return server;
    }

    // Every account on the machine can reach the loopback port; only clients of the account
    // this process runs as may drive it. The kernel's socket table says who owns the peer.
    void admit(QTcpSocket* socket)
    {
        if (stopped || upgrader == nullptr) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        const std::optional<uid_t> owner = SocketOwnerLookup::peerOwner(*socket);
        if (owner && *owner == ::geteuid()) {
            // Small replies must not wait for the peer's delayed acknowledgement.
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            socket->setParent(upgrader);
            upgrader->handleConnection(socket);
            return;
        }
        if (owner) {
            log(u"Handshake: Rejected connection of another user (uid "_s + QString::number(*owner) + u')');
        } else {
            log(u"Handshake: Rejected connection of an unknown user from "_s + endpointText(socket));
        }
        refuseUpgrade(socket);
    }

    void handleNewConnection(QWebSocket* socket)
    {
        if (stopped) {
            socket->abort();
            socket->deleteLater();
            return;
        }
        socket->setMaxAllowedIncomingFrameSize(maxMessageSize);
        socket->setMaxAllowedIncomingMessageSize(maxMessageSize);

        auto connection = std::make_shared<ConnectionState>();
        connection->id = UuidText::fresh();
        connection->socket = socket;
        const QString endpoint = endpointText(socket);

        QList<Connection> old;
        {
            std::lock_guard guard(connectionsLock);
            old = connections.values();
            connections.clear();
            connections.insert(connection->id, connection);
        }

        if (!old.isEmpty()) {
            QStringList ids;
            for (const Connection& c : old) {
                ids.append(c->id);
            }
            log(u"Disconnecting "_s + QString::number(old.size()) + u" old connection(s) ["_s
                + ids.join(u", "_s) + u"] for new client ["_s + connection->id + u"] from "_s
                + endpoint + u'.');
            for (const Connection& c : old) {
                cancel(c);
            }
        } else {
            log(u"New connection ["_s + connection->id + u"] from "_s + endpoint
                + u". No existing connections."_s);
        }

        QObject::connect(socket, &QWebSocket::textMessageReceived, context,
            [this, connection](const QString& message) { received(connection, message.toUtf8()); });
        QObject::connect(socket, &QWebSocket::binaryMessageReceived, context,
            [this, connection](const QByteArray& message) { received(connection, message); });
        QObject::connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), context,
            [this, connection](QAbstractSocket::SocketError error) { failed(connection, error); });
        QObject::connect(socket, &QWebSocket::disconnected, context,
            [this, connection] { disconnected(connection); });

        if (socket->state() != QAbstractSocket::ConnectedState) {
            disconnected(connection);
            return;
        }
        log(u"Connection ["_s + connection->id + u"] ready. Handshake validated."_s);
        withDelegate([&](WebSocketServerDelegate& d) { d.serverDidConnect(q); });
    }

    void cancel(const Connection& connection)
    {
        if (connection->cancelled || connection->finished) {
            return;
        }
        connection->cancelled = true;
        connection->socket->close();
    }

    void received(const Connection& connection, const QByteArray& bytes)
    {
        if (stopped || connection->cancelled || connection->finished || connection->failed) {
            return;
        }
        if (bytes.isEmpty()) {
            return;
        }
        log(u"ReadLoop: Received "_s + QString::number(bytes.size()) + u" bytes. isComplete=true"_s);
        processMessage(bytes);
    }

    bool processMessage(const QByteArray& bytes)
    {
        log(u"ProcessMessage: Decoding "_s + QString::number(bytes.size()) + u" bytes"_s);
        const std::optional<IPCMessage> decoded = IPCMessage::decode(bytes);
        if (!decoded) {
            log(u"Invalid JSON envelope. Ignored."_s);
            return false;
        }
        withDelegate([&](WebSocketServerDelegate& d) { d.serverDidReceiveDecodedMessage(q, bytes, *decoded); });
        return true;
    }

    void failed(const Connection& connection, QAbstractSocket::SocketError error)
    {
        if (stopped || connection->cancelled || connection->finished || connection->failed) {
            return;
        }
        if (error == QAbstractSocket::RemoteHostClosedError) {
            return; // the end of the stream, reported when the socket is gone
        }
        connection->failed = true;
        connection->error = connection->socket->errorString();
        log(u"Receive error: "_s + connection->error);
        connection->socket->abort();
    }

    void disconnected(const Connection& connection)
    {
        if (connection->finished) {
            return;
        }
        connection->finished = true;
        connection->socket->deleteLater();
        if (stopped) {
            return;
        }

        if (!connection->cancelled && !connection->failed) {
            // The socket layer closes a connection itself on a protocol violation (a message
            // above the size limit, a bad frame); that is a receive error, not an end of stream.
            const auto code = connection->socket->closeCode();
            if (code != QWebSocketProtocol::CloseCodeNormal && code != QWebSocketProtocol::CloseCodeGoingAway
                && code != QWebSocketProtocol::CloseCodeMissingStatusCode
                && !connection->socket->closeReason().isEmpty()) {
                connection->failed = true;
                connection->error = connection->socket->closeReason();
                log(u"Receive error: "_s + connection->error);
            } else {
                log(u"Client disconnected (EOF)"_s);
            }
        }

        log(u"Connection ["_s + connection->id + u"] state update: "_s
            + (connection->failed ? u"failed: "_s + connection->error : u"cancelled"_s));
        removeConnection(connection);
    }

    void removeConnection(const Connection& connection)
    {
        bool removed = false;
        {
            std::lock_guard guard(connectionsLock);
            const auto it = connections.constFind(connection->id);
            if (it != connections.constEnd() && it.value() == connection) {
                connections.erase(it);
                removed = true;
            }
        }
        if (removed) {
            withDelegate([&](WebSocketServerDelegate& d) { d.serverDidDisconnect(q); });
        }
    }

    QList<Connection> takeAll()
    {
        std::lock_guard guard(connectionsLock);
        QList<Connection> all = connections.values();
        connections.clear();
        return all;
    }

    QList<Connection> snapshot()
    {
        std::lock_guard guard(connectionsLock);
        return connections.values();
    }

    void sendToAll(const QByteArray& message)
    {
        const QList<Connection> targets = snapshot();
        if (targets.isEmpty()) {
            return;
        }
        const QString text = QString::fromUtf8(message);
        for (const Connection& c : targets) {
            if (c->cancelled || c->finished) {
                continue;
            }
            const qint64 written = c->socket->sendTextMessage(text);
            if (written <= 0 && !message.isEmpty()) {
                const QString reason = c->socket->errorString();
                log(u"Send error: "_s + (reason.isEmpty() ? u"the connection is not open"_s : reason));
            }
        }
    }

    void disconnectAll()
    {
        for (const Connection& c : takeAll()) {
            cancel(c);
        }
    }

    void stopListening()
    {
        stopped = true;
        for (const Connection& c : takeAll()) {
            QObject::disconnect(c->socket, nullptr, context, nullptr);
            c->cancelled = true;
            c->finished = true;
            c->socket->abort();
            c->socket->deleteLater();
        }
        for (QTcpServer* server : std::as_const(listeners)) {
            QObject::disconnect(server, nullptr, context, nullptr);
            server->close();
            server->deleteLater(); // with the refused sockets still being answered
        }
        listeners.clear();
        if (upgrader != nullptr) {
            QObject::disconnect(upgrader, nullptr, context, nullptr);
            upgrader->deleteLater(); // with the sockets still in their handshake
            upgrader = nullptr;
        }
        listening.store(0);
    }

    WebSocketServer& q;
    const quint16 port;

    QThread thread;
    QObject* context = nullptr; // lives on the server thread; parent of the listeners

    // Server thread only.
    QList<QTcpServer*> listeners;
    QWebSocketServer* upgrader = nullptr;
    bool stopped = false;

    std::mutex connectionsLock;
    QHash<QString, Connection> connections; // guarded by connectionsLock

    std::recursive_mutex delegateLock;
    WebSocketServerDelegate* delegate = nullptr; // guarded by delegateLock

    std::atomic<quint16> listening {0};
};

WebSocketServer::WebSocketServer(quint16 port, WebSocketServerDelegate* delegate)
    : d(std::make_unique<Private>(*this, port, delegate))
{
}

WebSocketServer::~WebSocketServer()
{
    stop();
}

void WebSocketServer::setDelegate(WebSocketServerDelegate* delegate)
{
    std::lock_guard guard(d->delegateLock);
    d->delegate = delegate;
}

void WebSocketServer::start()
{
    d->runBlocking([this] { d->startListening(); });
}

void WebSocketServer::stop()
{
    d->runBlocking([this] { d->stopListening(); });
}

quint16 WebSocketServer::listeningPort() const
{
    return d->listening.load();
}

void WebSocketServer::send(const QByteArray& message)
{
    d->runQueued([this, message] { d->sendToAll(message); });
}

void WebSocketServer::disconnectAllClients()
{
    d->runQueued([this] { d->disconnectAll(); });
}

bool WebSocketServer::isServerThread() const
{
    return d->onServerThread();
}
