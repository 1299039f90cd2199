#include "ExtensionProcess.h"

#include <QEventLoop>
#include <QTimer>

ExtensionProcess::ExtensionProcess(const QString& program, const QList<Page>& pages, qsizetype attachmentBytes,
    qsizetype chunkRawSize)
{
    QStringList args {QStringLiteral("--extension"), QString::number(chunkRawSize), QString::number(attachmentBytes)};
    for (const Page& page : pages) {
        args.append(QString::number(page.bytes) + QLatin1Char(':') + QString::number(page.attachments));
    }
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(program, args);
    started_ = process_.waitForStarted() && ask(QByteArray(), 120000) == "ready";
}

ExtensionProcess::~ExtensionProcess()
{
    if (process_.state() != QProcess::NotRunning) {
        process_.write("quit\n");
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished();
        }
    }
}

std::optional<QByteArray> ExtensionProcess::ask(const QByteArray& command, int timeoutMs)
{
    if (!command.isEmpty()) {
        process_.write(command + '\n');
    }
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    const auto readLines = [&] {
        output_.append(process_.readAllStandardOutput());
        if (output_.contains('\n')) {
            loop.quit();
        }
    };
    const QMetaObject::Connection ready = QObject::connect(&process_, &QProcess::readyReadStandardOutput, &loop, readLines);
    const QMetaObject::Connection gone = QObject::connect(&process_, &QProcess::finished, &loop, &QEventLoop::quit);
    readLines();
    if (!output_.contains('\n')) {
        timeout.start(timeoutMs);
        loop.exec();
    }
    QObject::disconnect(ready);
    QObject::disconnect(gone);
    const qsizetype end = output_.indexOf('\n');
    if (end < 0) {
        return std::nullopt;
    }
    const QByteArray line = output_.left(end);
    output_.remove(0, end + 1);
    return line;
}

bool ExtensionProcess::connectTo(quint16 port)
{
    return ask("connect " + QByteArray::number(port), 10000) == "connected";
}

bool ExtensionProcess::connectFloor(quint16 port, int page)
{
    return ask("connect_floor " + QByteArray::number(port) + ' ' + QByteArray::number(page), 10000) == "connected";
}

std::optional<ExtensionRound> ExtensionProcess::exportPage(int page, int timeoutMs)
{
    const std::optional<QByteArray> line = ask("export " + QByteArray::number(page), timeoutMs);
    const QList<QByteArray> f = line ? line->split(' ') : QList<QByteArray>();
    if (f.size() != 9 || f[0] != "exported") {
        return std::nullopt;
    }
    ExtensionRound round;
    round.succeeded = f[1] == "1";
    round.invokedAt = f[2].toLongLong();
    round.captureAskedAt = f[3].toLongLong();
    round.captureSentAt = f[4].toLongLong();
    round.firstDownloadAt = f[5].toLongLong();
    round.lastDownloadAt = f[6].toLongLong();
    round.downloads = f[7].toLongLong();
    round.repliedAt = f[8].toLongLong();
    return round;
}

bool ExtensionProcess::sendAbandoned(int payloads, qsizetype bytes, qsizetype chunks)
{
    return ask("abandon " + QByteArray::number(payloads) + ' ' + QByteArray::number(bytes) + ' '
                   + QByteArray::number(chunks),
               120000)
        == "sent";
}
