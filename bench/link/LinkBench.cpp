// Figures for the extension link: decoding one chunk message at the size limit, and ingesting
// a large page capture over the loopback socket into the chunk store.

#include "link/Base64.h"
#include "link/ChunkAssembler.h"
#include "link/IpcMessage.h"
#include "link/WebSocketServer.h"
#include "link/WebSocketServerDelegate.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <QWebSocket>

#include <benchmark/benchmark.h>

#include <atomic>

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

// What the dispatcher does with one chunk message.
bool ingest(const QByteArray& bytes)
{
    const std::optional<IPCMessage> m = IPCMessage::decode(bytes);
    if (!m || !m->args || !m->args->chunkBase64 || !m->args->chunkIndex || !m->args->totalChunks) {
        return false;
    }
    const std::optional<QByteArray> data = Base64::decode(*m->args->chunkBase64);
    return data && ChunkAssembler::shared().addChunk(m->request_id, *m->args->chunkIndex, *m->args->totalChunks, *data);
}

void BM_ValidateAndDecodeChunkMessage(benchmark::State& state)
{
    const QByteArray bytes = chunkMessage("decode", 0, 1, randomBytes(chunkRawSize));
    for (auto _ : state) {
        // The server's envelope check, then the dispatcher's own decode and base64 decode.
        benchmark::DoNotOptimize(IPCMessage::decode(bytes).has_value());
        const std::optional<IPCMessage> m = IPCMessage::decode(bytes);
        benchmark::DoNotOptimize(Base64::decode(*m->args->chunkBase64).has_value());
    }
    ChunkAssembler::shared().clear("decode");
    state.SetBytesProcessed(state.iterations() * bytes.size());
    state.counters["message_bytes"] = double(bytes.size());
}
BENCHMARK(BM_ValidateAndDecodeChunkMessage)->Unit(benchmark::kMillisecond);

class IngestDelegate : public WebSocketServerDelegate {
public:
    void serverDidReceiveMessage(WebSocketServer&, const QByteArray& message) override
    {
        if (ingest(message) && ChunkAssembler::shared().getData(requestId)) {
            done.store(true);
        }
    }
    void serverDidLog(WebSocketServer&, const QString& l) override { if (qEnvironmentVariableIsSet("MB_DEBUG")) fprintf(stderr, "%s\n", qPrintable(l)); }
    void serverDidConnect(WebSocketServer&) override { connected.store(true); }
    void serverDidDisconnect(WebSocketServer&) override { }

    QString requestId;
    std::atomic<bool> done {false};
    std::atomic<bool> connected {false};
};

bool waitFor(const std::atomic<bool>& flag)
{
    QElapsedTimer timer;
    timer.start();
    while (!flag.load()) {
        if (timer.elapsed() > 60000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

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
    QWebSocket client;
    client.open(QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(server.listeningPort())));
    if (!waitFor(delegate.connected)) {
        state.SkipWithError("no connection");
        return;
    }

    for (auto _ : state) {
        ChunkAssembler::shared().clear(delegate.requestId);
        delegate.done.store(false);

        for (const QString& message : std::as_const(messages)) {
            client.sendTextMessage(message);
        }
        if (!waitFor(delegate.done)) {
            state.SkipWithError("payload did not arrive");
            break;
        }
    }
    if (ChunkAssembler::shared().getData(delegate.requestId) != payload) {
        state.SkipWithError("payload corrupted");
    }
    ChunkAssembler::shared().clear(delegate.requestId);
    server.setDelegate(nullptr);
    state.SetBytesProcessed(state.iterations() * payloadSize);
    state.counters["chunks"] = double(total);
}
BENCHMARK(BM_LoopbackIngest)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
