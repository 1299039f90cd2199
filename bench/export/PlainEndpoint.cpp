#include "PlainEndpoint.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QWebSocket>

namespace {

// Decodes the base64 of a chunk message's "chunkBase64" in place of a JSON parse.
qsizetype decodeChunk(const QString& text)
{
    static const QString key = QStringLiteral("\"chunkBase64\":\"");
    const qsizetype start = text.indexOf(key);
    if (start < 0) {
        return 0;
    }
    const qsizetype from = start + key.size();
    const qsizetype end = text.indexOf(QLatin1Char('"'), from);
    return QByteArray::fromBase64(QStringView(text).mid(from, end - from).toLatin1()).size();
}

// The envelope's keys are sorted, so the command stands after the arguments: a chunk's is
// near the message's end, a small message's anywhere in its few bytes.
bool commandIs(const QString& text, const char* quoted)
{
    return QStringView(text).right(512).contains(QLatin1String(quoted));
}

// Runs this thread's events until `done` says so or `timeoutMs` pass; false on the time-out.
template <typename Done>
bool runUntil(QWebSocket* socket, Done done, int timeoutMs)
{
    QEventLoop loop;
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    const QMetaObject::Connection c = QObject::connect(socket, &QWebSocket::textMessageReceived, &loop,
        [&](const QString& text) {
            if (done(text)) {
                loop.quit();
            }
        });
    loop.exec();
    QObject::disconnect(c);
    return done(QString());
}

} // namespace

PlainEndpoint::PlainEndpoint()
    : server_(QStringLiteral("floor"), QWebSocketServer::NonSecureMode)
{
    server_.listen(QHostAddress::LocalHost, 0);
}

bool PlainEndpoint::waitForClient(int timeoutMs)
{
    if (!server_.hasPendingConnections()) {
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        QObject::connect(&server_, &QWebSocketServer::newConnection, &loop, &QEventLoop::quit);
        loop.exec();
    }
    client_ = server_.nextPendingConnection();
    return client_ != nullptr;
}

double PlainEndpoint::receiveCapture(int timeoutMs)
{
    bool complete = false;
    qsizetype bytes = 0;
    QElapsedTimer timer;
    timer.start();
    client_->sendTextMessage(QStringLiteral(
        R"({"version":"1","request_id":"floor","source":"app","type":"command","command":"capture_start"})"));
    const bool done = runUntil(
        client_, [&](const QString& text) {
            if (commandIs(text, "\"saveDomHtmlChunk\"")) {
                bytes += decodeChunk(text);
            } else if (commandIs(text, "\"capture_complete\"")) {
                complete = true;
            }
            return complete;
        },
        timeoutMs);
    return done && bytes > 0 ? double(timer.nsecsElapsed()) / 1e9 : -1.0;
}

double PlainEndpoint::roundTrips(const QList<QString>& requests, const QList<QString>& perAnswer, int timeoutMs)
{
    qsizetype answered = 0;
    QElapsedTimer timer;
    timer.start();
    for (const QString& request : requests) {
        client_->sendTextMessage(request);
    }
    client_->flush();
    const bool done = runUntil(
        client_, [&](const QString& text) {
            if (commandIs(text, "\"save_file_complete\"")) {
                ++answered;
                for (const QString& message : perAnswer) {
                    client_->sendTextMessage(message);
                }
            } else if (!text.isEmpty()) {
                decodeChunk(text);
            }
            return answered == requests.size();
        },
        timeoutMs);
    return done ? double(timer.nsecsElapsed()) / 1e9 : -1.0;
}
