#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>

#include <optional>

// One export as the extension saw it, in nanoseconds of the monotonic clock (0: not seen).
struct ExtensionRound {
    bool succeeded = false;
    qint64 invokedAt = 0;       // "invoke_export" sent
    qint64 captureAskedAt = 0;  // "capture_start" received
    qint64 captureSentAt = 0;   // the capture's last message handed to the socket
    qint64 firstDownloadAt = 0; // the first "download" request received
    qint64 lastDownloadAt = 0;
    qint64 downloads = 0;
    qint64 repliedAt = 0; // the export's reply received

    double seconds() const { return double(repliedAt - invokedAt) / 1e9; }
};

// The fake extension in a child process (this program again, started with `--extension`),
// driven over its standard input. While a call waits for the child's answer, this thread runs
// its event loop, so Mossbridge's main-thread work goes on meanwhile.
class ExtensionProcess {
public:
    struct Page {
        qint64 bytes;
        int attachments;
    };

    ExtensionProcess(const QString& program, const QList<Page>& pages, qsizetype attachmentBytes,
        qsizetype chunkRawSize);
    ~ExtensionProcess();

    bool started() const { return started_; }
    bool connectTo(quint16 port);
    // A second connection, to a plain endpoint measuring a floor; it is sent page `page`'s
    // capture when it asks with "capture_start".
    bool connectFloor(quint16 port, int page);
    std::optional<ExtensionRound> exportPage(int page, int timeoutMs = 120000);
    // Captures that stop before their last chunk, each under its own id.
    bool sendAbandoned(int payloads, qsizetype bytes, qsizetype chunks);

private:
    std::optional<QByteArray> ask(const QByteArray& command, int timeoutMs);

    QProcess process_;
    QByteArray output_;
    bool started_ = false;
};
