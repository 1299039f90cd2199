#include "link/IpcMessage.h"
#include "link/WebSocketServer.h"
#include "link/WebSocketServerDelegate.h"

#include "support/TestSupport.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QThread>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

using testsupport::processEventsFor;
using testsupport::waitUntil;
using namespace std::chrono_literals;

namespace {

// Records what the server reports. Calls arrive on the server thread, the test reads on the
// main thread.
class RecordingDelegate : public WebSocketServerDelegate {
private:
    template <typename Fn>
    auto locked(Fn fn) const
    {
        std::lock_guard guard(mutex);
        return fn();
    }

    mutable std::mutex mutex;
    QList<QByteArray> messages;
    QStringList logs;
    int connects = 0;
    int disconnects = 0;
    bool wrongThread = false;
    QString threadName;

public:
    void serverDidReceiveMessage(WebSocketServer& server, const QByteArray& message) override
    {
        std::lock_guard guard(mutex);
        messages.append(message);
        if (!server.isServerThread()) {
            wrongThread = true;
        }
        threadName = QThread::currentThread()->objectName();
    }
    void serverDidLog(WebSocketServer&, const QString& line) override
    {
        std::lock_guard guard(mutex);
        logs.append(line);
    }
    void serverDidConnect(WebSocketServer& server) override
    {
        std::lock_guard guard(mutex);
        ++connects;
        if (!server.isServerThread()) {
            wrongThread = true;
        }
    }
    void serverDidDisconnect(WebSocketServer& server) override
    {
        std::lock_guard guard(mutex);
        ++disconnects;
        if (!server.isServerThread()) {
            wrongThread = true;
        }
    }

    int connectCount() const { return locked([&] { return connects; }); }
    int disconnectCount() const { return locked([&] { return disconnects; }); }
    QList<QByteArray> received() const { return locked([&] { return messages; }); }
    QStringList lines() const { return locked([&] { return logs; }); }
    int countLines(const QString& fragment) const
    {
        return locked([&] { return int(logs.filter(fragment).size()); });
    }
    bool waitForLine(const QString& fragment, int times = 1) const
    {
        return waitUntil([&] { return countLines(fragment) >= times; });
    }
    // The identifier in the last "New connection [...]" or "... for new client [...]" line.
    QString lastNewConnectionId() const
    {
        static const QRegularExpression pattern(R"((?:New connection|for new client) \[([0-9A-F-]{36})\])");
        const QStringList all = lines();
        for (qsizetype i = all.size() - 1; i >= 0; --i) {
            const auto match = pattern.match(all[i]);
            if (match.hasMatch()) {
                return match.captured(1);
            }
        }
        return {};
    }
    bool calledOffServerThread() const { return locked([&] { return wrongThread; }); }
    QString messageThreadName() const { return locked([&] { return threadName; }); }

};

QByteArray envelope(const QString& command = "ping", const QString& requestId = "r")
{
    IPCMessage m;
    m.request_id = requestId;
    m.type = "request";
    m.command = command;
    return m.encode();
}

// A message of exactly `size` bytes that is a valid envelope.
QByteArray paddedEnvelope(qsizetype size)
{
    const QByteArray head = R"({"version":"1","request_id":"big","type":"request","command":"saveDomHtmlChunk","args":{"chunkBase64":")";
    const QByteArray tail = R"("}})";
    return head + QByteArray(size - head.size() - tail.size(), 'A') + tail;
}

QByteArray upgradeRequest(const char* origin)
{
    QByteArray request = "GET / HTTP/1.1\r\n"
                         "Host: 127.0.0.1\r\n"
                         "Upgrade: websocket\r\n"
                         "Connection: Upgrade\r\n"
                         "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                         "Sec-WebSocket-Version: 13\r\n";
    if (origin) {
        request += QByteArray("Origin: ") + origin + "\r\n";
    }
    return request + "\r\n";
}

// Sends a hand-written upgrade request and returns the response head ("" on time-out).
QByteArray rawUpgrade(QTcpSocket& socket, quint16 port, const char* origin,
    const QHostAddress& host = QHostAddress::LocalHost)
{
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(5000)) {
        return {};
    }
    socket.write(upgradeRequest(origin));

    QByteArray response;
    waitUntil([&] {
        socket.waitForReadyRead(10);
        response += socket.readAll();
        return response.contains("\r\n\r\n");
    });
    return response.contains("\r\n\r\n") ? response : QByteArray();
}

constexpr int cannotChangeUser = 3;

// Sends the upgrade request from a child process running as `uid` and returns the response it
// read, or the child's exit status when it could not get that far.
struct ForeignResponse {
    QByteArray response;
    int exitCode = -1;
};

ForeignResponse upgradeAsUser(uid_t uid, const QHostAddress& host, quint16 port)
{
    // Everything the child needs is made before the fork: the child of a threaded process may
    // only make plain system calls.
    const QByteArray request = upgradeRequest(nullptr);
    sockaddr_storage target {};
    socklen_t targetSize = 0;
    if (host.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&target);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(host.toIPv4Address());
        targetSize = sizeof *v4;
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&target);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = host.toIPv6Address();
        std::memcpy(&v6->sin6_addr, bytes.c, sizeof bytes.c);
        targetSize = sizeof *v6;
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return {};
    }

    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        const gid_t gid = gid_t(uid);
        if (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0 || ::getuid() != uid) {
            ::_exit(cannotChangeUser);
        }
        // Made after the change of user, so the socket is that user's.
        const int fd = ::socket(target.ss_family, SOCK_STREAM, 0);
        if (fd < 0 || ::connect(fd, reinterpret_cast<const sockaddr*>(&target), targetSize) != 0
            || ::write(fd, request.constData(), size_t(request.size())) != request.size()) {
            ::_exit(4);
        }
        char buffer[1024];
        ssize_t got = 0;
        while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
            if (::write(pipeFds[1], buffer, size_t(got)) != got) {
                ::_exit(5);
            }
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    ForeignResponse result;
    if (child < 0) {
        ::close(pipeFds[0]);
        return result;
    }
    // Bounded: a server that never answers must not hang the suite.
    pollfd readable {pipeFds[0], POLLIN, 0};
    char buffer[1024];
    while (::poll(&readable, 1, 10000) > 0) {
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got <= 0) {
            break;
        }
        result.response.append(buffer, got);
    }
    ::close(pipeFds[0]);
    int status = 0;
    if (::waitpid(child, &status, 0) == child && WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else {
        ::kill(child, SIGKILL);
    }
    return result;
}

class WebSocketServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        server = std::make_unique<WebSocketServer>(0, &delegate);
        server->start();
        ASSERT_NE(server->listeningPort(), 0);
    }

    void TearDown() override
    {
        clients.clear();
        server.reset();
    }

    QUrl url(const QString& host = "127.0.0.1") const
    {
        return QUrl(QString("ws://%1:%2").arg(host).arg(server->listeningPort()));
    }

    // A client on the main thread, connected and reported to the delegate.
    QWebSocket* connectClient(const QString& host = "127.0.0.1")
    {
        const int before = delegate.connectCount();
        auto client = std::make_unique<QWebSocket>();
        client->open(url(host));
        EXPECT_TRUE(waitUntil([&] {
            return client->state() == QAbstractSocket::ConnectedState && delegate.connectCount() > before;
        })) << "client did not connect";
        clients.push_back(std::move(client));
        return clients.back().get();
    }

    bool waitForMessages(int n)
    {
        return waitUntil([&] { return delegate.received().size() >= n; });
    }

    RecordingDelegate delegate;
    std::unique_ptr<WebSocketServer> server;
    std::vector<std::unique_ptr<QWebSocket>> clients;
};

TEST_F(WebSocketServerTest, LogsListeningAndRunsOnItsOwnThread)
{
    EXPECT_EQ(delegate.countLines(
                  QString("WebSocketServer listening on port %1 (Loopback only)").arg(server->listeningPort())),
        1);
    EXPECT_FALSE(server->isServerThread());

    QWebSocket* client = connectClient();
    client->sendTextMessage(QString::fromUtf8(envelope()));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(delegate.messageThreadName(), "app.mossbridge.Mossbridge.websocket.server");
    EXPECT_FALSE(delegate.calledOffServerThread());
}

TEST_F(WebSocketServerTest, ConnectionLinesNameTheClient)
{
    connectClient();
    const QString id = delegate.lastNewConnectionId();
    ASSERT_FALSE(id.isEmpty());
    EXPECT_EQ(delegate.countLines(QString("New connection [%1] from 127.0.0.1:").arg(id)), 1);
    EXPECT_EQ(delegate.countLines("No existing connections."), 1);
    EXPECT_EQ(delegate.countLines("Handshake: Check skipped (pinnedChromeExtensionId is empty)"), 1);
    EXPECT_EQ(delegate.countLines(QString("Connection [%1] ready. Handshake validated.").arg(id)), 1);
}

TEST_F(WebSocketServerTest, ServesTheIpv6Loopback)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHostIPv6, server->listeningPort());
    if (!probe.waitForConnected(2000)) {
        GTEST_SKIP() << "no ::1 on this machine";
    }
    probe.abort();
    QWebSocket* client = connectClient("[::1]");
    client->sendBinaryMessage(envelope("handshake"));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(delegate.countLines(QString("New connection [%1] from [::1]:").arg(delegate.lastNewConnectionId())), 1);
}

TEST_F(WebSocketServerTest, SecondClientReplacesTheFirst)
{
    QWebSocket* first = connectClient();
    const QString firstId = delegate.lastNewConnectionId();
    QWebSocket* second = connectClient();
    const QString secondId = delegate.lastNewConnectionId();
    ASSERT_NE(firstId, secondId);

    EXPECT_TRUE(waitUntil([&] { return first->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(delegate.countLines(QString("Disconnecting 1 old connection(s) [%1] for new client [%2] from 127.0.0.1:")
                                      .arg(firstId, secondId)),
        1);
    ASSERT_TRUE(delegate.waitForLine(QString("Connection [%1] state update: cancelled").arg(firstId)));
    processEventsFor(100ms);
    EXPECT_EQ(delegate.disconnectCount(), 0);
    EXPECT_EQ(delegate.connectCount(), 2);

    // The new client is served; a third one replaces it in turn.
    second->sendTextMessage(QString::fromUtf8(envelope()));
    EXPECT_TRUE(waitForMessages(1));
    connectClient();
    EXPECT_TRUE(delegate.waitForLine(QString("old connection(s) [%1]").arg(secondId)));
    EXPECT_EQ(delegate.disconnectCount(), 0);
}

// The only client goes away in different ways; each is reported once.
struct GoneCase {
    const char* name;
    std::function<void(QWebSocket&)> leave;
    const char* stateLine;
};

TEST_F(WebSocketServerTest, OnlyClientLeavingIsReportedOnce)
{
    const GoneCase cases[] = {
        {"closing handshake", [](QWebSocket& c) { c.close(); }, "cancelled"},
        {"dropped connection", [](QWebSocket& c) { c.abort(); }, "cancelled"},
    };
    for (const GoneCase& c : cases) {
        SCOPED_TRACE(c.name);
        const int before = delegate.disconnectCount();
        QWebSocket* client = connectClient();
        const QString id = delegate.lastNewConnectionId();
        c.leave(*client);
        ASSERT_TRUE(waitUntil([&] { return delegate.disconnectCount() == before + 1; }));
        EXPECT_EQ(delegate.countLines(QString("Connection [%1] state update: %2").arg(id, c.stateLine)), 1);
        EXPECT_EQ(delegate.countLines("Client disconnected (EOF)"), before + 1);
        processEventsFor(100ms);
        EXPECT_EQ(delegate.disconnectCount(), before + 1);
    }
}

TEST_F(WebSocketServerTest, ProtocolViolationFailsTheConnection)
{
    QTcpSocket socket;
    ASSERT_TRUE(rawUpgrade(socket, server->listeningPort(), nullptr).startsWith("HTTP/1.1 101"));
    ASSERT_TRUE(waitUntil([&] { return delegate.connectCount() == 1; }));
    const QString id = delegate.lastNewConnectionId();

    // A final frame with the reserved opcode 0x3, masked, empty.
    socket.write(QByteArray("\x83\x80\x01\x02\x03\x04", 6));
    ASSERT_TRUE(waitUntil([&] { return delegate.disconnectCount() == 1; }));
    EXPECT_EQ(delegate.countLines("Receive error: "), 1);
    EXPECT_EQ(delegate.countLines(QString("Connection [%1] state update: failed: ").arg(id)), 1);
    EXPECT_EQ(delegate.countLines("Client disconnected (EOF)"), 0);
    processEventsFor(100ms);
    EXPECT_EQ(delegate.disconnectCount(), 1);
}

TEST_F(WebSocketServerTest, InvalidEnvelopesAreDroppedAndReadingGoesOn)
{
    QWebSocket* client = connectClient();
    const QByteArray invalid[] = {
        "not json at all",
        R"({"version":"1","request_id":"r","type":"request","command":"c","args":{"chunkIndex":"3"}})",
        R"({"version":"1","request_id":"r","type":"response","result":{"status":"ok"}})",
    };
    for (const QByteArray& bytes : invalid) {
        client->sendTextMessage(QString::fromUtf8(bytes));
    }
    const QByteArray valid = envelope("handshake");
    client->sendTextMessage(QString::fromUtf8(valid));

    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(delegate.received(), QList<QByteArray> {valid});
    EXPECT_EQ(delegate.countLines("Invalid JSON envelope. Ignored."), 3);
    for (const QByteArray& bytes : invalid) {
        EXPECT_GE(delegate.countLines(QString("ReadLoop: Received %1 bytes. isComplete=true").arg(bytes.size())), 1);
        EXPECT_GE(delegate.countLines(QString("ProcessMessage: Decoding %1 bytes").arg(bytes.size())), 1);
    }
    EXPECT_EQ(client->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(delegate.disconnectCount(), 0);
}

TEST_F(WebSocketServerTest, BinaryFramesAreHandledLikeText)
{
    QWebSocket* client = connectClient();
    const QByteArray message = envelope("saveDomHtmlChunk", "bin");
    client->sendBinaryMessage(message);
    client->sendBinaryMessage("\xff\xfe not an envelope");
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_TRUE(delegate.waitForLine("Invalid JSON envelope. Ignored."));
    EXPECT_EQ(delegate.received(), QList<QByteArray> {message});
}

TEST_F(WebSocketServerTest, TextIsHandedOnAsUtf8)
{
    QWebSocket* client = connectClient();
    IPCMessage m = IPCMessage::decode(envelope()).value();
    m.args = IPCArgs {};
    m.args->chatTitle = QString::fromUtf8("Grüße 😀");
    client->sendTextMessage(QString::fromUtf8(m.encode()));
    ASSERT_TRUE(waitForMessages(1));
    EXPECT_EQ(IPCMessage::decode(delegate.received().value(0)), m);
}

TEST_F(WebSocketServerTest, MessageAtTheLimitPassesAndAboveItClosesTheConnection)
{
    constexpr qsizetype limit = 4 * 1024 * 1024;
    QWebSocket* client = connectClient();
    const QByteArray atLimit = paddedEnvelope(limit);
    client->sendTextMessage(QString::fromLatin1(atLimit));
    ASSERT_TRUE(waitUntil([&] { return delegate.received().size() == 1; }, 30s));
    EXPECT_EQ(delegate.received().value(0).size(), limit);

    const QString id = delegate.lastNewConnectionId();
    client->sendBinaryMessage(paddedEnvelope(limit + 1));
    ASSERT_TRUE(waitUntil([&] { return delegate.disconnectCount() == 1; }, 30s));
    EXPECT_EQ(delegate.countLines("Receive error: "), 1);
    EXPECT_EQ(delegate.countLines(QString("Connection [%1] state update: failed: ").arg(id)), 1);
    EXPECT_TRUE(waitUntil([&] { return client->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(delegate.received().size(), 1);

    // The server keeps accepting.
    QWebSocket* next = connectClient();
    next->sendTextMessage(QString::fromUtf8(envelope()));
    EXPECT_TRUE(waitForMessages(2));
}

TEST_F(WebSocketServerTest, SendReachesTheClientInOrderFromAnyThread)
{
    QWebSocket* client = connectClient();
    QStringList got;
    QObject::connect(client, &QWebSocket::textMessageReceived, [&](const QString& m) { got.append(m); });

    constexpr int count = 200;
    std::thread worker([&] {
        for (int i = 0; i < count; ++i) {
            server->send(envelope("update_ui", QString::number(i)));
        }
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return got.size() == count; }));
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(IPCMessage::decode(got[i].toUtf8())->request_id, QString::number(i));
    }
}

TEST_F(WebSocketServerTest, SendWithoutClientDoesNothing)
{
    const int linesBefore = int(delegate.lines().size());
    server->send(envelope());
    processEventsFor(50ms);
    EXPECT_EQ(delegate.lines().size(), linesBefore);
}

TEST_F(WebSocketServerTest, DisconnectAllClientsClosesWithoutDisconnectCall)
{
    QWebSocket* client = connectClient();
    const QString id = delegate.lastNewConnectionId();
    std::thread([&] { server->disconnectAllClients(); }).join();
    EXPECT_TRUE(waitUntil([&] { return client->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_TRUE(delegate.waitForLine(QString("Connection [%1] state update: cancelled").arg(id)));
    processEventsFor(100ms);
    EXPECT_EQ(delegate.disconnectCount(), 0);

    // Nothing is left to send to, and new clients are served.
    const int linesBefore = int(delegate.lines().size());
    server->send(envelope());
    processEventsFor(50ms);
    EXPECT_EQ(delegate.lines().size(), linesBefore);
    connectClient()->sendTextMessage(QString::fromUtf8(envelope()));
    EXPECT_TRUE(waitForMessages(1));
}

TEST_F(WebSocketServerTest, StopClosesEverythingSilently)
{
    QWebSocket* client = connectClient();
    const int linesBefore = int(delegate.lines().size());
    server->stop();
    EXPECT_EQ(server->listeningPort(), 0);
    EXPECT_TRUE(waitUntil([&] { return client->state() == QAbstractSocket::UnconnectedState; }));
    processEventsFor(100ms);
    EXPECT_EQ(delegate.disconnectCount(), 0);
    EXPECT_EQ(delegate.lines().size(), linesBefore);
}

TEST_F(WebSocketServerTest, ClearedDelegateHearsNothing)
{
    QWebSocket* client = connectClient();
    server->setDelegate(nullptr);
    const int linesBefore = int(delegate.lines().size());
    client->sendTextMessage(QString::fromUtf8(envelope()));
    client->close();
    processEventsFor(200ms);
    EXPECT_EQ(delegate.lines().size(), linesBefore);
    EXPECT_TRUE(delegate.received().isEmpty());
    EXPECT_EQ(delegate.disconnectCount(), 0);
}

TEST_F(WebSocketServerTest, PortInUseIsLoggedAsAFailedStart)
{
    RecordingDelegate other;
    WebSocketServer second(server->listeningPort(), &other);
    second.start();
    EXPECT_EQ(second.listeningPort(), 0);
    EXPECT_EQ(other.countLines("WebSocketServer failed to start: "), 1);
    EXPECT_EQ(other.countLines("listening on port"), 0);
}

// Raw upgrade requests, so the test sees the HTTP status the server answers.
struct OriginCase {
    const char* origin; // nullptr: no Origin header
    int status;
};

TEST_F(WebSocketServerTest, UpgradeIsRefusedForWebOrigins)
{
    const OriginCase cases[] = {
        {nullptr, 101},
        {"chrome-extension://abcdefghijklmnopabcdefghijklmnop", 101},
        {"moz-extension://0b9f6a0e-3f5e-4d7a-9d51-6c2f1f0b7e11", 101},
        {"https://example.com", 403},
        {"http://127.0.0.1:8000", 403},
        {"file://", 403},
        {"null", 403},
        {"chrome-extensionx://abc", 403},
    };
    for (const OriginCase& c : cases) {
        SCOPED_TRACE(c.origin ? c.origin : "(no origin)");
        const int connectsBefore = delegate.connectCount();

        QTcpSocket socket;
        const QByteArray response = rawUpgrade(socket, server->listeningPort(), c.origin);
        ASSERT_FALSE(response.isEmpty());
        const QByteArray statusLine = response.left(response.indexOf("\r\n"));
        EXPECT_TRUE(statusLine.startsWith("HTTP/1.1 " + QByteArray::number(c.status))) << statusLine.constData();

        if (c.status == 101) {
            EXPECT_TRUE(response.contains("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo="));
            EXPECT_TRUE(waitUntil([&] { return delegate.connectCount() == connectsBefore + 1; }));
        } else {
            EXPECT_EQ(delegate.countLines(QString("Handshake: Rejected origin ") + c.origin), 1);
            // The server hangs up after the refusal and no connection is made.
            EXPECT_TRUE(waitUntil([&] {
                socket.waitForReadyRead(10);
                return socket.state() == QAbstractSocket::UnconnectedState;
            }));
            EXPECT_EQ(delegate.connectCount(), connectsBefore);
        }
        socket.abort();
    }
    EXPECT_EQ(delegate.countLines("Handshake: Check skipped (pinnedChromeExtensionId is empty)"), 3);
}

// The kernel knows which account owns the other end of a loopback connection; a client of
// another account is refused before the upgrade, one of our own is served as before.
TEST_F(WebSocketServerTest, ClientsOfAnotherAccountAreRefused)
{
    constexpr uid_t nobody = 65534;
    if (::geteuid() == nobody) {
        GTEST_SKIP() << "the suite itself runs as the account the foreign client would use";
    }
    int refusals = 0;
    for (const QHostAddress& host : {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        SCOPED_TRACE(host.toString().toStdString());
        const int connects = delegate.connectCount();
        const int disconnects = delegate.disconnectCount();
        QTcpSocket ours;
        const QByteArray accepted = rawUpgrade(ours, server->listeningPort(), nullptr, host);
        if (accepted.isEmpty() && host.protocol() == QAbstractSocket::IPv6Protocol) {
            continue; // no ::1 on this machine
        }
        EXPECT_TRUE(accepted.startsWith("HTTP/1.1 101")) << accepted.constData();
        EXPECT_TRUE(waitUntil([&] { return delegate.connectCount() == connects + 1; }));

        const ForeignResponse foreign = upgradeAsUser(nobody, host, server->listeningPort());
        if (foreign.exitCode == cannotChangeUser) {
            GTEST_SKIP() << "this process cannot change its user id (not root, or no CAP_SETUID), "
                            "so no client of another account can be made";
        }
        ++refusals;
        EXPECT_EQ(foreign.exitCode, 0);
        EXPECT_TRUE(foreign.response.startsWith("HTTP/1.1 403")) << foreign.response.constData();
        EXPECT_FALSE(foreign.response.contains("Sec-WebSocket-Accept"));
        EXPECT_EQ(delegate.countLines("Handshake: Rejected connection of another user (uid 65534)"), refusals);

        // Our own client was neither replaced nor disturbed.
        processEventsFor(50ms);
        EXPECT_EQ(delegate.connectCount(), connects + 1);
        EXPECT_EQ(delegate.disconnectCount(), disconnects);
        EXPECT_EQ(ours.state(), QAbstractSocket::ConnectedState);
        ours.abort();
        EXPECT_TRUE(waitUntil([&] { return delegate.disconnectCount() == disconnects + 1; }));
    }
}

} // namespace
