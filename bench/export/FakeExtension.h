#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class QWebSocket;
struct IPCMessage;

// The companion extension as the export benchmarks need it, run in a process of its own so
// that its memory (the pages' base64, its prepared messages, its socket buffers) is not counted
// as Mossbridge's. It answers every request at once: the chat's start is on screen at the
// first query, the capture goes out in chunks as soon as it is asked for, every attachment is
// there. It takes commands on standard input and answers each with one line on standard
// output (see ExtensionProcess, its other end).
class FakeExtension : public QObject {
public:
    // The attachment's bytes for every download; the pages, in the order the commands name
    // them, generated chat pages of the given sizes and attachment counts.
    FakeExtension(const QList<QByteArray>& pages, const QByteArray& attachment, qsizetype chunkRawSize);

    // The child process's entry: with `--extension CHUNK_BYTES ATTACHMENT_BYTES
    // PAGE_BYTES:ATTACHMENTS...` it serves until told to quit and returns the exit status;
    // with other arguments nothing (the program is not the extension).
    static std::optional<int> serveWhenAsked(int argc, char** argv);

private:
    void command(const QByteArray& line);
    void reply(const QByteArray& line);
    void connectSocket(QWebSocket*& socket, quint16 port);
    void prepareCapture(int page);
    void startExport(int page);
    void sendAbandoned(int payloads, qsizetype bytes, qsizetype chunks);
    void send(QWebSocket* socket, const IPCMessage& m);
    void respond(QWebSocket* socket, const IPCMessage& request, const QMap<QString, QString>& result);
    void answer(QWebSocket* socket, const IPCMessage& m);

    QList<QList<QString>> pageChunks_;
    qsizetype chunkRawSize_;
    QString attachmentBase64_;
    QString saveFileBefore_; // the "save_file" message around its request id
    QString saveFileAfter_;

    QWebSocket* socket_ = nullptr;      // to Mossbridge
    QWebSocket* floorSocket_ = nullptr; // to a plain endpoint measuring a floor
    QList<QString> captureMessages_;
    QString captureId_;

    // This export's moments on the monotonic clock, in nanoseconds.
    qint64 invokedAt_ = 0;
    qint64 captureAskedAt_ = 0;
    qint64 captureSentAt_ = 0;
    qint64 firstDownloadAt_ = 0;
    qint64 lastDownloadAt_ = 0;
    qint64 downloads_ = 0;
    bool exporting_ = false;
};
