// Figures for the extension link: decoding one message that carries a payload (a capture chunk
// at the size limit, one downloaded 20 KB attachment), envelope and base64, as the server
// thread does, next to the plainest handling of the same bytes measured in the same run
// (decoding the chunk's base64 text alone, and copying the message); then ingesting a large
// page capture over the loopback socket into the chunk store.

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
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

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

QByteArray chunkMessage(const QString& requestId, qint64 index, qint64 total, const QByteArray& raw,
    const QString& command = "saveDomHtmlChunk")
{
    IPCMessage m = IPCMessage::make("extension", "command", command, requestId, IPCArgs {});
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

struct Payload {
    std::string name;
    QByteArray message; // as the server receives it
    QByteArray text; // the chunk's base64 text in it
};

const std::vector<Payload>& payloads()
{
    static const std::vector<Payload> all = [] {
        const QByteArray capture = randomBytes(chunkRawSize);
        const QByteArray attachment = randomBytes(20 * 1024);
        return std::vector<Payload> {
            {"capture_chunk_4MiB", chunkMessage("page-1", 0, 1, capture), capture.toBase64()},
            {"save_file_20KB", chunkMessage("3F2504E0-4F89-11D3-9A0C-0305E82C3301", 0, 1, attachment, "save_file"),
                attachment.toBase64()},
        };
    }();
    return all;
}

// The server's envelope check decodes the message, the dispatcher decodes the chunk's base64.
void decodeMessage(benchmark::State& state, const Payload* payload)
{
    for (auto _ : state) {
        const std::optional<IPCMessage> m = IPCMessage::decode(payload->message);
        if (!m || !m->args || !m->args->chunkBase64) {
            state.SkipWithError("the message did not decode");
            break;
        }
        const std::optional<QByteArray> data = Base64::decode(*m->args->chunkBase64);
        if (!data) {
            state.SkipWithError("the chunk did not decode");
            break;
        }
        benchmark::DoNotOptimize(data->constData());
    }
    state.SetBytesProcessed(state.iterations() * payload->message.size());
    state.counters["message_bytes"] = double(payload->message.size());
}

void base64Floor(benchmark::State& state, const Payload* payload)
{
    for (auto _ : state) {
        benchmark::DoNotOptimize(Base64::decode(QByteArrayView(payload->text)));
    }
    state.SetBytesProcessed(state.iterations() * payload->message.size());
}

void copyFloor(benchmark::State& state, const Payload* payload)
{
    QByteArray copy(payload->message.size(), Qt::Uninitialized);
    for (auto _ : state) {
        std::memcpy(copy.data(), payload->message.constData(), std::size_t(payload->message.size()));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * payload->message.size());
}

void registerDecodeBenchmarks()
{
    for (const Payload& payload : payloads()) {
        benchmark::RegisterBenchmark(("BM_Decode/" + payload.name).c_str(), decodeMessage, &payload)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("BM_Base64Floor/" + payload.name).c_str(), base64Floor, &payload)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("BM_CopyFloor/" + payload.name).c_str(), copyFloor, &payload)
            ->Unit(benchmark::kMicrosecond);
    }
}

// Keeps each benchmark's mean real time per iteration, in seconds.
class CapturingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
                seconds[run.benchmark_name()] = run.real_accumulated_time / double(run.iterations);
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> seconds;
};

void printRatios(const CapturingReporter& reporter)
{
    const auto figure = [&](const std::string& name) {
        const auto it = reporter.seconds.find(name);
        return it == reporter.seconds.end() ? 0.0 : it->second;
    };
    for (const Payload& payload : payloads()) {
        const double decode = figure("BM_Decode/" + payload.name);
        const double base64 = figure("BM_Base64Floor/" + payload.name);
        const double copy = figure("BM_CopyFloor/" + payload.name);
        if (decode <= 0 || base64 <= 0 || copy <= 0) {
            continue;
        }
        std::printf("%-20s decoded in %8.1f us: %5.2fx decoding its base64 alone (%.1f us), %6.1fx copying the message (%.1f us)\n",
            payload.name.c_str(), decode * 1e6, decode / base64, base64 * 1e6, decode / copy, copy * 1e6);
    }
}

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
    registerDecodeBenchmarks();
    benchmark::Initialize(&argc, argv);
    CapturingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    printRatios(reporter);
    return 0;
}
