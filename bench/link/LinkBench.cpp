// Figures for the extension link: decoding one chunk message at the size limit, and ingesting
// a large page capture over the loopback socket into the chunk store.

#include "core/MemoryTuning.h"
#include "link/Base64.h"
#include "link/ChunkAssembler.h"
#include "link/IpcMessage.h"
#include "link/WebSocketServer.h"
#include "link/WebSocketServerDelegate.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QRandomGenerator>
#include <QThread>
#include <QWebSocket>

#include <benchmark/benchmark.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

constexpr qsizetype messageLimit = 4 * 1024 * 1024;
constexpr qsizetype payloadSize = 64 * 1024 * 1024;
// Raw bytes per chunk so that the base64 text plus the envelope stays just under the limit.
constexpr qsizetype chunkRawSize = (messageLimit - 1024) / 4 * 3;

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(42);
    generator.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

QByteArray chunkMessage(const QString& requestId, qint64 index, qint64 total, const QByteArray& raw)
{
    IPCMessage m;
    m.request_id = requestId;
    m.type = "request";
    m.command = "saveDomHtmlChunk";
    m.args = IPCArgs {};
    m.args->chunkBase64 = QString::fromLatin1(raw.toBase64());
    m.args->chunkIndex = index;
    m.args->totalChunks = total;
    return m.encode();
}

// What the dispatcher does with one decoded chunk message.
bool ingest(const IPCMessage& m)
{
    if (!m.args || !m.args->chunkBase64 || !m.args->chunkIndex || !m.args->totalChunks) {
        return false;
    }
    const std::optional<QByteArray> data = Base64::decode(*m.args->chunkBase64);
    return data && ChunkAssembler::shared().addChunk(m.request_id, *m.args->chunkIndex, *m.args->totalChunks, *data);
}

void BM_ValidateAndDecodeChunkMessage(benchmark::State& state)
{
    const QByteArray bytes = chunkMessage("decode", 0, 1, randomBytes(chunkRawSize));
    for (auto _ : state) {
        // The server's envelope check decodes the message; the dispatcher decodes its base64.
        const std::optional<IPCMessage> m = IPCMessage::decode(bytes);
        benchmark::DoNotOptimize(Base64::decode(*m->args->chunkBase64).has_value());
    }
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["message_bytes"] = double(bytes.size());
}
BENCHMARK(BM_ValidateAndDecodeChunkMessage)->Unit(benchmark::kMillisecond);

class IngestDelegate : public WebSocketServerDelegate {
public:
    void serverDidReceiveMessage(WebSocketServer&, const QByteArray&) override { }
    void serverDidReceiveDecodedMessage(WebSocketServer&, const QByteArray&, const IPCMessage& message) override
    {
        if (ingest(message) && ChunkAssembler::shared().getData(requestId)) {
            std::lock_guard guard(lock);
            done = true;
            changed.notify_all();
        }
    }
    void serverDidLog(WebSocketServer&, const QString&) override { }
    void serverDidConnect(WebSocketServer&) override { }
    void serverDidDisconnect(WebSocketServer&) override { }

    void reset()
    {
        std::lock_guard guard(lock);
        done = false;
    }

    bool waitUntilDone()
    {
        std::unique_lock guard(lock);
        return changed.wait_for(guard, std::chrono::seconds(60), [this] { return done; });
    }

    QString requestId;

private:
    std::mutex lock;
    std::condition_variable changed;
    bool done = false;
};

// Plays the extension: its own thread and event loop, as the browser is its own process.
class ScriptedSender : public QObject {
public:
    explicit ScriptedSender(QList<QString> messages)
        : messages(std::move(messages))
    {
    }

    // Runs on the sender thread.
    void open(quint16 port)
    {
        socket = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
        QObject::connect(socket, &QWebSocket::connected, this, [this] { opened.release(); });
        socket->open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port)));
    }

    void sendAll()
    {
        for (const QString& message : std::as_const(messages)) {
            socket->sendTextMessage(message);
            // Hand each message to the kernel at once, as a browser streams its frames, instead
            // of masking the whole payload before the first byte leaves.
            socket->flush();
        }
    }

    QSemaphore opened;

private:
    QList<QString> messages;
    QWebSocket* socket = nullptr;
};

void BM_LoopbackIngest(benchmark::State& state)
{
    const QByteArray payload = randomBytes(payloadSize);
    const qint64 total = (payloadSize + chunkRawSize - 1) / chunkRawSize;

    IngestDelegate delegate;
    delegate.requestId = "ingest";
    QList<QString> messages;
    for (qint64 i = 0; i < total; ++i) {
        const QByteArray message = chunkMessage(delegate.requestId, i, total, payload.mid(i * chunkRawSize, chunkRawSize));
        if (message.size() >= messageLimit) {
            state.SkipWithError("chunk message above the limit");
            return;
        }
        messages.append(QString::fromLatin1(message));
    }

    WebSocketServer server(0, &delegate);
    server.start();

    QThread senderThread;
    senderThread.start();
    auto* sender = new ScriptedSender(messages);
    sender->moveToThread(&senderThread);
    const quint16 port = server.listeningPort();
    QMetaObject::invokeMethod(sender, [sender, port] { sender->open(port); });
    if (!sender->opened.tryAcquire(1, 10000)) {
        state.SkipWithError("no connection");
    } else {
        for (auto _ : state) {
            ChunkAssembler::shared().clear(delegate.requestId);
            delegate.reset();
            QMetaObject::invokeMethod(sender, [sender] { sender->sendAll(); });
            if (!delegate.waitUntilDone()) {
                state.SkipWithError("payload did not arrive");
                break;
            }
        }
        if (ChunkAssembler::shared().getData(delegate.requestId) != payload) {
            state.SkipWithError("payload corrupted");
        }
    }
    QMetaObject::invokeMethod(sender, [sender] { delete sender; }, Qt::BlockingQueuedConnection);
    senderThread.quit();
    senderThread.wait();
    server.setDelegate(nullptr);
    ChunkAssembler::shared().clear(delegate.requestId);
    state.SetBytesProcessed(state.iterations() * payloadSize);
    state.counters["chunks"] = double(total);
}
// Loopback timings vary from run to run on a shared machine; the median of a few runs is the figure.
BENCHMARK(BM_LoopbackIngest)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    tuneAllocatorForLargeBuffers(); // as the application does
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
