#include "FakeExtension.h"

#include "ChatPageGenerator.h"
#include "MonotonicClock.h"

#include "link/IpcMessage.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QUuid>
#include <QWebSocket>

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {

IPCMessage message(const QString& type, const QString& command, const QString& requestId,
    std::optional<IPCArgs> args = std::nullopt)
{
    return IPCMessage::make(QStringLiteral("extension"), type, command, requestId, std::move(args));
}

QString chunkText(const QString& command, const QString& requestId, qsizetype index, qsizetype total,
    const QString& base64)
{
    IPCArgs args;
    args.chunkBase64 = base64;
    args.chunkIndex = index;
    args.totalChunks = total;
    return QString::fromUtf8(message(QStringLiteral("request"), command, requestId, args).encode());
}

} // namespace

FakeExtension::FakeExtension(const QList<QByteArray>& pages, const QByteArray& attachment, qsizetype chunkRawSize)
    : chunkRawSize_(chunkRawSize)
    , attachmentBase64_(QString::fromLatin1(attachment.toBase64()))
{
    const QString placeholder = QStringLiteral("REQUEST-ID");
    const QString saveFile = chunkText(QStringLiteral("save_file"), placeholder, 0, 1, attachmentBase64_);
    const qsizetype at = saveFile.indexOf(QLatin1Char('"') + placeholder + QLatin1Char('"')) + 1;
    saveFileBefore_ = saveFile.left(at);
    saveFileAfter_ = saveFile.mid(at + placeholder.size());
    // The browser holds the page and its base64 before the export starts.
    for (const QByteArray& page : pages) {
        QList<QString> chunks;
        for (qsizetype offset = 0; offset < page.size(); offset += chunkRawSize_) {
            chunks.append(QString::fromLatin1(page.mid(offset, chunkRawSize_).toBase64()));
        }
        pageChunks_.append(chunks);
    }
}

std::optional<int> FakeExtension::serveWhenAsked(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--extension") != 0) {
        return std::nullopt;
    }
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        std::fprintf(stderr, "--extension CHUNK_BYTES ATTACHMENT_BYTES PAGE_BYTES:ATTACHMENTS...\n");
        return 2;
    }
    QList<QByteArray> pages;
    for (qsizetype i = 4; i < args.size(); ++i) {
        const QStringList spec = args.at(i).split(QLatin1Char(':'));
        pages.append(generateChatPage(spec.value(0).toLongLong(), spec.value(1).toInt()));
    }
    FakeExtension extension(pages, QByteArray(args.at(3).toLongLong(), '\x5a'), args.at(2).toLongLong());

    QByteArray pending;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &extension, [&] {
        char buffer[4096];
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) {
            QCoreApplication::quit(); // the bench is gone
            return;
        }
        pending.append(buffer, got);
        for (qsizetype end = pending.indexOf('\n'); end >= 0; end = pending.indexOf('\n')) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            extension.command(line);
        }
    });
    extension.reply("ready");
    return app.exec();
}

void FakeExtension::reply(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void FakeExtension::command(const QByteArray& line)
{
    const QList<QByteArray> words = line.split(' ');
    const QByteArray& verb = words.value(0);
    if (verb == "connect") {
        connectSocket(socket_, quint16(words.value(1).toUInt()));
    } else if (verb == "connect_floor") {
        prepareCapture(words.value(2).toInt());
        connectSocket(floorSocket_, quint16(words.value(1).toUInt()));
    } else if (verb == "export") {
        startExport(words.value(1).toInt());
    } else if (verb == "abandon") {
        sendAbandoned(words.value(1).toInt(), words.value(2).toLongLong(), words.value(3).toLongLong());
    } else if (verb == "quit") {
        QCoreApplication::quit();
    } else {
        reply("unknown " + line);
    }
}

void FakeExtension::connectSocket(QWebSocket*& socket, quint16 port)
{
    delete socket;
    socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    QWebSocket* opened = socket;
    connect(opened, &QWebSocket::connected, this, [this] { reply("connected"); });
    connect(opened, &QWebSocket::textMessageReceived, this, [this, opened](const QString& text) {
        // The panel's messages (two per download) are only shown by a browser: skipping them
        // unparsed keeps this process from being what the export waits for.
        if (text.contains(QLatin1String("\"command\":\"update_ui\""))
            || text.contains(QLatin1String("\"command\":\"ui_render\""))) {
            return;
        }
        if (const std::optional<IPCMessage> m = IPCMessage::decode(text.toUtf8())) {
            answer(opened, *m);
        }
    });
    opened->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
}

void FakeExtension::prepareCapture(int page)
{
    // Preparing the capture's messages is the browser's work, done before the clock starts.
    captureId_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QList<QString>& chunks = pageChunks_.at(page);
    captureMessages_.clear();
    for (qsizetype index = 0; index < chunks.size(); ++index) {
        captureMessages_.append(chunkText(QStringLiteral("saveDomHtmlChunk"), captureId_, index, chunks.size(), chunks[index]));
    }
    captureMessages_.append(QString::fromUtf8(
        message(QStringLiteral("request"), QStringLiteral("capture_complete"), captureId_).encode()));
}

void FakeExtension::startExport(int page)
{
    prepareCapture(page);
    captureAskedAt_ = captureSentAt_ = firstDownloadAt_ = lastDownloadAt_ = 0;
    downloads_ = 0;
    exporting_ = true;
    IPCArgs args;
    args.tabId = 7;
    args.windowId = 1;
    invokedAt_ = monotonicNanoseconds();
    send(socket_, message(QStringLiteral("request"), QStringLiteral("invoke_export"), QUuid::createUuid().toString(), args));
}

void FakeExtension::sendAbandoned(int payloads, qsizetype bytes, qsizetype chunks)
{
    const QString base64 = QString::fromLatin1(QByteArray(bytes / chunks, '\x33').toBase64());
    for (int p = 0; p < payloads; ++p) {
        const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
        for (qsizetype index = 0; index + 1 < chunks; ++index) {
            socket_->sendTextMessage(chunkText(QStringLiteral("saveDomHtmlChunk"), id, index, chunks, base64));
        }
    }
    socket_->flush();
    reply("sent");
}

void FakeExtension::send(QWebSocket* socket, const IPCMessage& m)
{
    socket->sendTextMessage(QString::fromUtf8(m.encode()));
    socket->flush();
}

void FakeExtension::respond(QWebSocket* socket, const IPCMessage& request, const QMap<QString, QString>& result)
{
    IPCMessage response = message(QStringLiteral("response"), request.command, request.request_id);
    response.result = result;
    send(socket, response);
}

void FakeExtension::answer(QWebSocket* socket, const IPCMessage& m)
{
    const QString& c = m.command;
    const bool exportSocket = socket == socket_;
    if (exportSocket && exporting_ && c == QStringLiteral("exportMarkdown") && m.request_id == captureId_
        && (m.type == QStringLiteral("response") || m.type == QStringLiteral("error"))) {
        const qint64 repliedAt = monotonicNanoseconds();
        exporting_ = false;
        const bool succeeded = m.type == QStringLiteral("response") && m.result
            && m.result->value(QStringLiteral("status")) == QStringLiteral("success");
        reply(QByteArray("exported ") + (succeeded ? "1" : "0") + ' ' + QByteArray::number(invokedAt_) + ' '
            + QByteArray::number(captureAskedAt_) + ' ' + QByteArray::number(captureSentAt_) + ' '
            + QByteArray::number(firstDownloadAt_) + ' ' + QByteArray::number(lastDownloadAt_) + ' '
            + QByteArray::number(downloads_) + ' ' + QByteArray::number(repliedAt));
        return;
    }
    if (c == QStringLiteral("capture_start")) {
        if (exportSocket) {
            captureAskedAt_ = monotonicNanoseconds();
        }
        for (const QString& text : std::as_const(captureMessages_)) {
            socket->sendTextMessage(text);
        }
        socket->flush();
        if (exportSocket) {
            captureSentAt_ = monotonicNanoseconds();
        }
        return;
    }
    if (m.type != QStringLiteral("request") || c == QStringLiteral("update_ui") || c == QStringLiteral("ui_render")) {
        return;
    }
    if (c == QStringLiteral("scrollGetMetrics")) {
        respond(socket, m, {
                               {QStringLiteral("scrollTop"), QStringLiteral("5000")},
                               {QStringLiteral("scrollHeight"), QStringLiteral("10000")},
                               {QStringLiteral("clientHeight"), QStringLiteral("2000")},
                               {QStringLiteral("windowScrollX"), QStringLiteral("0")},
                               {QStringLiteral("windowScrollY"), QStringLiteral("0")},
                               {QStringLiteral("acceptsNegative"), QStringLiteral("false")},
                           });
    } else if (c == QStringLiteral("domQuery")) {
        const bool marker = m.args && m.args->selector && m.args->selector->contains(QStringLiteral("BotInfoCard"));
        respond(socket, m, {{QStringLiteral("count"), marker ? QStringLiteral("1") : QStringLiteral("0")}});
    } else if (c == QStringLiteral("download")) {
        if (exportSocket) {
            lastDownloadAt_ = monotonicNanoseconds();
            if (downloads_++ == 0) {
                firstDownloadAt_ = lastDownloadAt_;
            }
        }
        IPCArgs done;
        done.url = m.args ? m.args->url : std::nullopt;
        // The attachment's message is made once; only its request id changes.
        socket->sendTextMessage(saveFileBefore_ + m.request_id + saveFileAfter_);
        send(socket, message(QStringLiteral("request"), QStringLiteral("save_file_complete"), m.request_id, done));
    } else {
        respond(socket, m, {{QStringLiteral("ok"), QStringLiteral("true")}});
    }
}
