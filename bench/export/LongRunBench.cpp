// A tray application that runs for weeks: many exports one after another in one process,
// over the real loopback socket, with the activity log window in place (hidden, as it is most
// of the time). A small chat (3 attachments) and a 2.8 MB chat (40 attachments) alternate;
// every hundred exports the program prints the median latency of each kind, the resident
// memory, what the allocator holds and the main thread's share of a core.
//
//   export_longrun_bench [N]        N exports (default 1000), then the summary
//   export_longrun_bench --abandoned
//                                   120 captures of 3 MB that never complete: resident memory
//                                   before, once they are in, and 140 s after they were sent
//
// Settings and the vault live in temporary folders; the extension is a WebSocket client on
// its own thread. The figures are only printed; nothing here fails on them.

#include "ChatPageGenerator.h"
#include "ConversionRun.h"

#include "core/ActivityLog.h"
#include "core/MemoryTuning.h"
#include "export/ExportController.h"
#include "export/ExportShell.h"
#include "export/MessageDispatcher.h"
#include "link/ChunkAssembler.h"
#include "link/IpcMessage.h"
#include "link/WebSocketServer.h"
#include "shell/ActivityLogWindow.h"
#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUuid>
#include <QWebSocket>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

namespace {

// The figures; standard output itself gets the history's own lines, which are dropped.
FILE* figuresOut = stdout;

struct ChatKind {
    const char* name;
    qint64 pageBytes;
    int attachments;
};
constexpr ChatKind kSmall {"small", 40 * 1024, 3};
constexpr ChatKind kLarge {"large", 2800 * 1024, 40};
constexpr qsizetype kChunkRawSize = 512 * 1024;

const QByteArray& attachmentBytes()
{
    static const QByteArray bytes(32 * 1024, '\x5a');
    return bytes;
}

qint64 statusKb(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(prefix)) {
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return -1;
}

// What the allocator has taken from the system and what of it is in use, in KB.
struct HeapFigures {
    qint64 heldKb = 0;
    qint64 usedKb = 0;
};

HeapFigures heapFigures()
{
    const struct mallinfo2 info = mallinfo2();
    return {qint64((info.arena + info.hblkhd) / 1024), qint64((info.uordblks + info.hblkhd) / 1024)};
}

double threadCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values)
{
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

IPCMessage message(const QString& type, const QString& command, const QString& requestId,
    std::optional<IPCArgs> args = std::nullopt)
{
    return IPCMessage::make(QStringLiteral("extension"), type, command, requestId, std::move(args));
}

QList<QString> base64Chunks(const QByteArray& payload)
{
    QList<QString> chunks;
    for (qsizetype offset = 0; offset < payload.size(); offset += kChunkRawSize) {
        chunks.append(QString::fromLatin1(payload.mid(offset, kChunkRawSize).toBase64()));
    }
    return chunks;
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

class QuietShell : public ExportShell {
public:
    void updateStatus(const QString&) override { }
    void showOnboarding(OnboardingMode) override { }
    std::optional<QString> postNotification(const QString&, const QString&, const QVariantMap&) override
    {
        return std::nullopt;
    }
    void openViaUrlScheme(const QString&, const QString&) override { }
};

// The extension, answering at once: the chat's start is on screen at the first query, the
// capture goes out in chunks when asked for, every attachment is there. Lives on its thread.
class LongRunExtension : public QObject {
public:
    explicit LongRunExtension(const QList<QByteArray>& pages)
    {
        for (const QByteArray& page : pages) {
            pageChunks_.append(base64Chunks(page));
        }
        attachmentBase64_ = QString::fromLatin1(attachmentBytes().toBase64());
    }

    // Extension thread.
    void open(quint16 port)
    {
        socket_ = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
        connect(socket_, &QWebSocket::connected, this, [this] { opened.release(); });
        connect(socket_, &QWebSocket::textMessageReceived, this, [this](const QString& text) {
            if (const std::optional<IPCMessage> m = IPCMessage::decode(text.toUtf8())) {
                answer(*m);
            }
        });
        socket_->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }

    // Extension thread: one export of page `page`. The capture's messages are made before the
    // clock starts: preparing them is the browser's work.
    void startExport(int page)
    {
        captureId_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QList<QString>& chunks = pageChunks_.at(page);
        captureMessages_.clear();
        for (qsizetype index = 0; index < chunks.size(); ++index) {
            captureMessages_.append(chunkText(QStringLiteral("saveDomHtmlChunk"), captureId_, index, chunks.size(), chunks[index]));
        }
        captureMessages_.append(QString::fromUtf8(
            message(QStringLiteral("request"), QStringLiteral("capture_complete"), captureId_).encode()));
        IPCArgs args;
        args.tabId = 7;
        args.windowId = 1;
        clock_.start();
        send(message(QStringLiteral("request"), QStringLiteral("invoke_export"), QUuid::createUuid().toString(), args));
    }

    // Extension thread: captures that stop before their last chunk, each under its own id.
    void sendAbandoned(int payloads, qsizetype bytes, qsizetype chunks)
    {
        const QString base64 = QString::fromLatin1(QByteArray(bytes / chunks, '\x33').toBase64());
        for (int p = 0; p < payloads; ++p) {
            const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces);
            for (qsizetype index = 0; index + 1 < chunks; ++index) {
                socket_->sendTextMessage(chunkText(QStringLiteral("saveDomHtmlChunk"), id, index, chunks, base64));
            }
        }
        socket_->flush();
        sent.release();
    }

    QSemaphore opened;
    QSemaphore replied;
    QSemaphore sent;
    std::function<void()> onReply; // set by the main thread while it waits
    std::atomic<qint64> replyNanoseconds {0};
    std::atomic<bool> succeeded {false};

private:
    void send(const IPCMessage& m)
    {
        socket_->sendTextMessage(QString::fromUtf8(m.encode()));
        socket_->flush();
    }

    void respond(const IPCMessage& request, const QMap<QString, QString>& result = {})
    {
        IPCMessage response = message(QStringLiteral("response"), request.command, request.request_id);
        response.result = result;
        send(response);
    }

    void answer(const IPCMessage& m)
    {
        const QString& c = m.command;
        if (c == QStringLiteral("exportMarkdown") && m.request_id == captureId_
            && (m.type == QStringLiteral("response") || m.type == QStringLiteral("error"))) {
            replyNanoseconds.store(clock_.nsecsElapsed());
            succeeded.store(m.type == QStringLiteral("response"));
            if (onReply) {
                onReply();
            }
            replied.release(); // after the hook: the waiting thread then clears it
            return;
        }
        if (c == QStringLiteral("capture_start")) {
            for (const QString& text : std::as_const(captureMessages_)) {
                socket_->sendTextMessage(text);
            }
            socket_->flush();
            return;
        }
        if (m.type != QStringLiteral("request") || c == QStringLiteral("update_ui") || c == QStringLiteral("ui_render")) {
            return;
        }
        if (c == QStringLiteral("scrollGetMetrics")) {
            respond(m, {
                {QStringLiteral("scrollTop"), QStringLiteral("5000")},
                {QStringLiteral("scrollHeight"), QStringLiteral("10000")},
                {QStringLiteral("clientHeight"), QStringLiteral("2000")},
                {QStringLiteral("windowScrollX"), QStringLiteral("0")},
                {QStringLiteral("windowScrollY"), QStringLiteral("0")},
                {QStringLiteral("acceptsNegative"), QStringLiteral("false")},
            });
        } else if (c == QStringLiteral("domQuery")) {
            const bool marker = m.args && m.args->selector && m.args->selector->contains(QStringLiteral("BotInfoCard"));
            respond(m, {{QStringLiteral("count"), marker ? QStringLiteral("1") : QStringLiteral("0")}});
        } else if (c == QStringLiteral("download")) {
            IPCArgs done;
            done.url = m.args ? m.args->url : std::nullopt;
            socket_->sendTextMessage(chunkText(QStringLiteral("save_file"), m.request_id, 0, 1, attachmentBase64_));
            send(message(QStringLiteral("request"), QStringLiteral("save_file_complete"), m.request_id, done));
        } else {
            respond(m, {{QStringLiteral("ok"), QStringLiteral("true")}});
        }
    }

    QWebSocket* socket_ = nullptr;
    QList<QList<QString>> pageChunks_;
    QList<QString> captureMessages_;
    QString attachmentBase64_;
    QString captureId_;
    QElapsedTimer clock_;
};

// Settings, history and the vault in temporary folders, the activity log window receiving
// every line, a controller behind a loopback server and the extension connected to it.
class LongRunRig {
public:
    explicit LongRunRig(const QList<QByteArray>& pages)
        : extension_(pages)
    {
        const QString vault = vaultRoot_.filePath(QStringLiteral("Bench Vault"));
        QDir().mkpath(vault);
        VaultManager(config_).setVaultURL(vault);

        ActivityLog::shared().setSink([this](const QString& line) { logWindow_.appendLine(line); });

        server_.setDelegate(&controller_.dispatcher());
        server_.start();
        controller_.setWebSocketServer(&server_);

        extensionThread_.start();
        extension_.moveToThread(&extensionThread_);
        const quint16 port = server_.listeningPort();
        QMetaObject::invokeMethod(&extension_, [this, port] { extension_.open(port); });
        ready_ = extension_.opened.tryAcquire(1, 10000);
        runEventsFor(200);
    }

    ~LongRunRig()
    {
        controller_.shutdown();
        server_.setDelegate(nullptr);
        server_.stop();
        ActivityLog::shared().setSink({});
        QMetaObject::invokeMethod(&extension_, [this] { extension_.moveToThread(QCoreApplication::instance()->thread()); },
            Qt::BlockingQueuedConnection);
        extensionThread_.quit();
        extensionThread_.wait();
    }

    bool ready() const { return ready_; }
    const ActivityLogWindow& logWindow() const { return logWindow_; }

    // One export; the main thread runs the controller's work meanwhile. The time is the
    // extension's, from "invoke_export" to the reply.
    std::optional<double> exportOnce(int page)
    {
        QEventLoop loop;
        extension_.onReply = [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); };
        QTimer::singleShot(120000, &loop, &QEventLoop::quit);
        QMetaObject::invokeMethod(&extension_, [this, page] { extension_.startExport(page); });
        loop.exec();
        extension_.onReply = nullptr;
        if (!extension_.replied.tryAcquire(1, 10000)) {
            return std::nullopt;
        }
        // What follows the reply (history, notification, status) runs before the next export.
        runEventsFor(5);
        if (!extension_.succeeded.load()) {
            return std::nullopt;
        }
        return double(extension_.replyNanoseconds.load()) / 1e9;
    }

    void sendAbandoned(int payloads, qsizetype bytes, qsizetype chunks)
    {
        QMetaObject::invokeMethod(&extension_, [=, this] { extension_.sendAbandoned(payloads, bytes, chunks); });
        while (!extension_.sent.tryAcquire()) {
            runEventsFor(10);
        }
    }

private:
    QTemporaryDir settings_;
    UserDefaults defaults_ {settings_.filePath(QStringLiteral("Mossbridge.conf"))};
    ConfigManager config_ {defaults_};
    ExportHistoryManager history_ {defaults_, config_};
    ChunkAssembler chunks_;
    QTemporaryDir vaultRoot_;
    ActivityLogWindow logWindow_;
    QuietShell shell_;
    ExportController controller_ {&shell_, ExportServices {history_, chunks_, VaultManager(config_), VaultWriter(config_)}};
    WebSocketServer server_ {0, nullptr};
    QThread extensionThread_;
    LongRunExtension extension_;
    bool ready_ = false;
};

// The same pages through the converter alone, answering every download at once: the floor.
double conversionFloor(const QByteArray& page, const ChatKind& kind)
{
    const QString text = QString::fromUtf8(page);
    std::vector<double> rounds;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        convertLikeTheExport(text, attachmentBytes(), kind.attachments);
        rounds.push_back(double(timer.nsecsElapsed()) / 1e9);
    }
    return median(rounds);
}

struct Hundred {
    double small = 0;
    double large = 0;
    qint64 rssKb = 0;
    HeapFigures heap;
    double mainCpu = 0;
};

int runLong(int exports)
{
    const QList<QByteArray> pages {generateChatPage(kSmall.pageBytes, kSmall.attachments),
        generateChatPage(kLarge.pageBytes, kLarge.attachments)};
    const double floorSmall = conversionFloor(pages[0], kSmall);
    const double floorLarge = conversionFloor(pages[1], kLarge);
    std::fprintf(figuresOut, "pages: small %.0f KB with %d attachments, large %.2f MB with %d attachments\n",
        double(pages[0].size()) / 1024.0, kSmall.attachments, double(pages[1].size()) / (1024.0 * 1024.0),
        kLarge.attachments);
    std::fprintf(figuresOut, "conversion alone (floor): small %.1f ms, large %.1f ms\n\n", floorSmall * 1000.0, floorLarge * 1000.0);

    LongRunRig rig(pages);
    if (!rig.ready()) {
        std::fprintf(stderr, "the extension could not connect\n");
        return 1;
    }
    std::fprintf(figuresOut, "%8s %10s %10s %10s %11s %11s %9s %10s\n", "exports", "small ms", "large ms", "RSS MB",
        "heap held", "heap used", "main cpu", "log KB");
    std::vector<Hundred> hundreds;
    std::vector<double> small;
    std::vector<double> large;
    QElapsedTimer wall;
    wall.start();
    double cpuAtStart = threadCpuSeconds();
    for (int i = 1; i <= exports; ++i) {
        const int page = (i % 2 == 1) ? 0 : 1;
        const std::optional<double> seconds = rig.exportOnce(page);
        if (!seconds) {
            std::fprintf(stderr, "export %d did not succeed\n", i);
            return 1;
        }
        (page == 0 ? small : large).push_back(*seconds);
        if (i % 100 == 0) {
            Hundred h;
            h.small = median(small);
            h.large = median(large);
            h.rssKb = statusKb("VmRSS");
            h.heap = heapFigures();
            const double cpu = threadCpuSeconds();
            h.mainCpu = (cpu - cpuAtStart) / (double(wall.nsecsElapsed()) / 1e9);
            hundreds.push_back(h);
            std::fprintf(figuresOut, "%8d %10.1f %10.1f %10.1f %8.1f MB %8.1f MB %8.0f%% %10.0f\n", i, h.small * 1000.0,
                h.large * 1000.0, double(h.rssKb) / 1024.0, double(h.heap.heldKb) / 1024.0,
                double(h.heap.usedKb) / 1024.0, h.mainCpu * 100.0,
                double(rig.logWindow().text().toUtf8().size()) / 1024.0);
            std::fflush(figuresOut);
            small.clear();
            large.clear();
            wall.restart();
            cpuAtStart = cpu;
        }
    }
    if (hundreds.size() >= 3) {
        const Hundred& second = hundreds[1];
        const Hundred& last = hundreds.back();
        std::fprintf(figuresOut, "\nlast hundred against the second: small %.2fx, large %.2fx (goal <= 1.2x)\n",
            last.small / second.small, last.large / second.large);
        std::fprintf(figuresOut, "resident memory after the second hundred: %+.1f KB per export (goal < 20 KB)\n",
            double(last.rssKb - second.rssKb) / double(exports - 200));
        std::fprintf(figuresOut, "last hundred against the floor: small %.2fx, large %.2fx the conversion alone\n",
            last.small / floorSmall, last.large / floorLarge);
    }
    return 0;
}

int runAbandoned()
{
    constexpr int kPayloads = 120;
    constexpr qsizetype kPayloadBytes = 3 * 1024 * 1024;
    constexpr qsizetype kChunks = 3;
    LongRunRig rig({});
    if (!rig.ready()) {
        std::fprintf(stderr, "the extension could not connect\n");
        return 1;
    }
    runEventsFor(2000);
    const qint64 before = statusKb("VmRSS");
    const HeapFigures heapBefore = heapFigures();
    QElapsedTimer sinceSent;
    sinceSent.start();
    rig.sendAbandoned(kPayloads, kPayloadBytes, kChunks);
    runEventsFor(5000); // the server has taken them all in
    const qint64 held = statusKb("VmRSS");
    const HeapFigures heapHeld = heapFigures();
    std::fprintf(figuresOut, "%d captures of %.0f MB, %lld of %lld chunks each, never completed\n", kPayloads,
        double(kPayloadBytes) / (1024.0 * 1024.0), static_cast<long long>(kChunks - 1), static_cast<long long>(kChunks));
    while (sinceSent.elapsed() < 140000) {
        runEventsFor(500);
    }
    const qint64 after = statusKb("VmRSS");
    const HeapFigures heapAfter = heapFigures();
    const auto line = [](const char* when, qint64 rssKb, const HeapFigures& heap) {
        std::fprintf(figuresOut, "%-24s RSS %7.1f MB, heap held %7.1f MB, in use %7.1f MB\n", when, double(rssKb) / 1024.0,
            double(heap.heldKb) / 1024.0, double(heap.usedKb) / 1024.0);
    };
    line("before:", before, heapBefore);
    line("with them held:", held, heapHeld);
    line("140 s after sending:", after, heapAfter);
    std::fprintf(figuresOut, "resident memory 140 s after sending: %+.1f MB against before (goal within 60 MB)\n",
        double(after - before) / 1024.0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    tuneAllocatorForLargeBuffers(); // as the application does
    QTemporaryDir home;
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString path = home.filePath(QString::fromLatin1(name));
        QDir().mkpath(path);
        qputenv(name, path.toLocal8Bit());
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    std::fflush(stdout);
    figuresOut = fdopen(dup(STDOUT_FILENO), "w");
    if (figuresOut == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr) {
        figuresOut = stdout;
    }
    QApplication app(argc, argv);
    if (argc == 2 && std::strcmp(argv[1], "--abandoned") == 0) {
        return runAbandoned();
    }
    const int exports = argc == 2 ? std::max(100, std::atoi(argv[1])) : 1000;
    return runLong(exports);
}
