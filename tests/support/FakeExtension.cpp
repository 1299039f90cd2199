#include "support/FakeExtension.h"

#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QUrl>
#include <QWebSocket>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

// A browser's WebSocket sends each message at once (TCP_NODELAY). Without it, a small message
// right after another waits for the first one's acknowledgement, which the receiver delays by
// 40 ms: every export would take that much longer for no reason of Mossbridge's.
void sendWithoutDelay(quint16 localPort)
{
    const QStringList fds = QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System);
    for (const QString& name : fds) {
        const int fd = name.toInt();
        sockaddr_storage address {};
        socklen_t length = sizeof address;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            continue;
        }
        quint16 port = 0;
        if (address.ss_family == AF_INET) {
            port = ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
        } else if (address.ss_family == AF_INET6) {
            port = ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
        }
        if (port == localPort) {
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        }
    }
}

} // namespace

FakeExtension::FakeExtension()
{
    thread_.setObjectName(QStringLiteral("fake-extension"));
    thread_.start();
    context_ = new QObject;
    context_->moveToThread(&thread_);
}

FakeExtension::~FakeExtension()
{
    QMetaObject::invokeMethod(context_, [this] {
        if (socket_ != nullptr) {
            socket_->abort();
            delete socket_;
            socket_ = nullptr;
        }
    }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
    delete context_;
}

void FakeExtension::setScript(Script script)
{
    std::lock_guard lock(mutex_);
    script_ = std::move(script);
}

bool FakeExtension::connectTo(quint16 port)
{
    QMetaObject::invokeMethod(context_, [this, port] {
        if (socket_ != nullptr) {
            socket_->abort();
            socket_->deleteLater();
        }
        socket_ = new QWebSocket;
        QWebSocket* socket = socket_;
        QObject::connect(socket, &QWebSocket::connected, context_, [this, socket] {
            sendWithoutDelay(socket->localPort());
            connected_.store(true);
        });
        QObject::connect(socket, &QWebSocket::disconnected, context_, [this, socket] {
            if (socket == socket_) {
                connected_.store(false);
            }
        });
        QObject::connect(socket, &QWebSocket::textMessageReceived, context_, [this](const QString& text) {
            std::optional<IPCMessage> message = IPCMessage::decode(text.toUtf8());
            if (!message) {
                return;
            }
            Script script;
            {
                std::lock_guard lock(mutex_);
                received_.append(*message);
                script = script_;
            }
            if (script) {
                script(*this, *message);
            }
            // A main thread waiting for this message wakes now, not at its next look.
            if (QCoreApplication* app = QCoreApplication::instance()) {
                QMetaObject::invokeMethod(app, [] {}, Qt::QueuedConnection);
            }
        });
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }, Qt::BlockingQueuedConnection);
    return testsupport::waitUntil([this] { return connected_.load(); });
}

void FakeExtension::close()
{
    QMetaObject::invokeMethod(context_, [this] {
        if (socket_ != nullptr) {
            socket_->close();
        }
    }, Qt::BlockingQueuedConnection);
    testsupport::waitUntil([this] { return !connected_.load(); });
}

void FakeExtension::sendRaw(const QByteArray& text)
{
    QMetaObject::invokeMethod(context_, [this, text] {
        if (socket_ != nullptr) {
            socket_->sendTextMessage(QString::fromUtf8(text));
        }
    }, Qt::QueuedConnection);
}

void FakeExtension::send(const IPCMessage& message)
{
    sendRaw(message.encode());
}

IPCMessage FakeExtension::message(const QString& type, const QString& command, const QString& requestId,
    std::optional<IPCArgs> args)
{
    return IPCMessage::make(QStringLiteral("extension"), type, command, requestId, std::move(args));
}

void FakeExtension::respond(const IPCMessage& request, const QMap<QString, QString>& result)
{
    IPCMessage response = message(QStringLiteral("response"), request.command, request.request_id);
    response.result = result;
    send(response);
}

void FakeExtension::sendChunks(const QString& command, const QString& requestId, const QByteArray& payload,
    qsizetype chunkSize, std::optional<qsizetype> leftOut)
{
    const qsizetype total = payload.isEmpty() ? 1 : (payload.size() + chunkSize - 1) / chunkSize;
    for (qsizetype index = 0; index < total; ++index) {
        if (index == leftOut) {
            continue;
        }
        IPCArgs args;
        args.chunkBase64 = QString::fromLatin1(payload.mid(index * chunkSize, chunkSize).toBase64());
        args.chunkIndex = index;
        args.totalChunks = total;
        send(message(QStringLiteral("request"), command, requestId, args));
    }
}

QList<IPCMessage> FakeExtension::received() const
{
    std::lock_guard lock(mutex_);
    return received_;
}

QList<IPCMessage> FakeExtension::receivedWithCommand(const QString& command) const
{
    QList<IPCMessage> matching;
    for (const IPCMessage& m : received()) {
        if (m.command == command) {
            matching.append(m);
        }
    }
    return matching;
}

int FakeExtension::countCommand(const QString& command) const
{
    return static_cast<int>(receivedWithCommand(command).size());
}

void FakeExtension::clearReceived()
{
    std::lock_guard lock(mutex_);
    received_.clear();
}

bool FakeExtension::waitFor(const std::function<bool(const IPCMessage&)>& match,
    std::chrono::milliseconds timeout) const
{
    return waitForFirst(match, timeout).has_value();
}

std::optional<IPCMessage> FakeExtension::waitForFirst(const std::function<bool(const IPCMessage&)>& match,
    std::chrono::milliseconds timeout) const
{
    std::optional<IPCMessage> found;
    testsupport::waitUntil([&] {
        for (const IPCMessage& m : received()) {
            if (match(m)) {
                found = m;
                return true;
            }
        }
        return false;
    }, timeout);
    return found;
}

bool FakeExtension::waitForCommand(const QString& command, std::chrono::milliseconds timeout) const
{
    return waitFor([&](const IPCMessage& m) { return m.command == command; }, timeout);
}
