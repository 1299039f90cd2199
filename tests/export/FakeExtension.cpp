#include "FakeExtension.h"

#include "support/TestSupport.h"

#include <QMetaObject>
#include <QUrl>
#include <QWebSocket>

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
        QObject::connect(socket, &QWebSocket::connected, context_, [this] { connected_.store(true); });
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
    qsizetype chunkSize)
{
    const qsizetype total = payload.isEmpty() ? 1 : (payload.size() + chunkSize - 1) / chunkSize;
    for (qsizetype index = 0; index < total; ++index) {
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
