// The envelope decoder and the dispatcher's argument checks on arbitrary bytes. An input is
// one message per line, so that runs of chunks followed by their announcement are reachable.
// Each line is also decoded by Qt's parser over the whole message, which must give the same
// answer as the decoder that cuts a chunk's text out first.
// The controller runs with short durations behind a server that never listens: replies go
// nowhere, and every input starts from a fresh controller.

#include "FuzzSupport.h"

#include "core/ActivityLog.h"
#include "export/ExportController.h"
#include "export/ExportShell.h"
#include "export/MessageDispatcher.h"
#include "link/Base64.h"
#include "link/ChunkAssembler.h"
#include "link/IpcMessage.h"
#include "link/WebSocketServer.h"
#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

class SilentShell : public ExportShell {
public:
    void updateStatus(const QString& text) override { (void)text.size(); }
    void showOnboarding(OnboardingMode) override {}
    std::optional<QString> postNotification(const QString&, const QString&, const QVariantMap&) override
    {
        return std::nullopt;
    }
    void openViaUrlScheme(const QString&, const QString&) override {}
};

ExportTimings shortTimings()
{
    using namespace std::chrono_literals;
    ExportTimings timings;
    timings.requestTimeout = 5ms;
    timings.passSleep = 1ms;
    timings.shortSleep = 1ms;
    timings.passLimit = 3;
    timings.disconnectGrace = 0ms;
    timings.memoryReleaseDelay = 1ms;
    timings.converterWaits = ExportTimings::ConverterWaits { 50ms, 20ms, 1ms };
    return timings;
}

// Captured-page processing runs on the controller's pool; each run logs one of these lines
// at its start and one at its end.
const char* const processingStarts[] = {
    "Capture Complete (", "HTML Assembly Complete (", "[INFO] HTML Data found for Export.",
};
const char* const processingEnds[] = {
    "✅ Export Processed: ", "❌ Conversion failed: ", "Please configure Obsidian Vault in Mossbridge App Settings.",
    "[ERR] Failed to decode HTML from data", "[INFO] Ignoring stale note ",
};
// Counted on the main thread, where the log delivers its lines.
int startedRuns = 0;
int endedRuns = 0;

template <std::size_t N>
bool containsAny(const QString& line, const char* const (&texts)[N])
{
    return std::any_of(std::begin(texts), std::end(texts),
        [&line](const char* text) { return line.contains(QString::fromUtf8(text)); });
}

QString vaultPath()
{
    return QDir::homePath() + QStringLiteral("/Vault");
}

// The settings and the history every input's controller works with; each input gets a chunk
// store of its own.
struct Stores {
    UserDefaults defaults {QDir::homePath() + QStringLiteral("/Mossbridge.conf")};
    ConfigManager config {defaults};
    ExportHistoryManager history {defaults, config};
};

Stores& stores()
{
    static Stores instance;
    return instance;
}

void requireTheDecodersAgree(const QByteArray& bytes)
{
    const std::optional<IPCMessage> fast = IPCMessage::decode(bytes);
    const std::optional<IPCMessage> whole = IPCMessage::decodeWhole(bytes);
    bool same = fast == whole && (!fast || fast->encode() == whole->encode());
    if (same && fast && fast->args && fast->args->chunkBase64) {
        same = Base64::decode(*fast->args->chunkBase64)
            == Base64::decode(QStringView(whole->args->chunkBase64->toString()));
    }
    if (!same) {
        std::fprintf(stderr, "The decoders disagree on: %s\n", bytes.toPercentEncoding().constData());
        std::abort();
    }
}

void runMainLoopUntil(const std::function<bool()>& done)
{
    while (!done()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QCoreApplication::processEvents();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzzsupport::isolateHome();
    fuzzsupport::makeApplication();
    // With a vault the whole road runs: conversion, downloads and the write.
    QDir().mkpath(vaultPath());
    VaultManager(stores().config).setVaultURL(vaultPath());
    // Lines are formatted and delivered as in the application; MOSSBRIDGE_FUZZ_LOG=1 shows
    // them, for reading what a saved input does.
    static const bool show = qEnvironmentVariableIsSet("MOSSBRIDGE_FUZZ_LOG");
    ActivityLog::shared().setSink([](const QString& line) {
        startedRuns += containsAny(line, processingStarts) ? 1 : 0;
        endedRuns += containsAny(line, processingEnds) ? 1 : 0;
        if (show) {
            fputs(line.toUtf8().constData(), stderr);
        }
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> lines = fuzzsupport::bytes(data, size).split('\n');
    for (const QByteArray& line : lines) {
        requireTheDecodersAgree(line);
    }

    SilentShell shell;
    ChunkAssembler chunks;
    Stores& kept = stores();
    auto controller = std::make_unique<ExportController>(&shell,
        ExportServices {kept.history, chunks, VaultManager(kept.config), VaultWriter(kept.config)}, shortTimings());
    WebSocketServer server(0, &controller->dispatcher());
    controller->setWebSocketServer(&server);

    // The server thread's part: each message as the delegate receives it.
    std::unique_ptr<QThread> serverThread(QThread::create([&] {
        for (const QByteArray& line : lines) {
            controller->dispatcher().serverDidReceiveMessage(server, line);
        }
    }));
    serverThread->start();
    runMainLoopUntil([&] { return serverThread->isFinished(); });
    serverThread->wait();
    // Let every processing run that started end before the shutdown cuts it short. The
    // extension's own "log" command can forge a start line, hence the bound.
    QElapsedTimer processing;
    processing.start();
    runMainLoopUntil([&processing] { return endedRuns >= startedRuns || processing.hasExpired(3000); });

    controller->shutdown();
    server.setDelegate(nullptr);
    controller.reset();
    QCoreApplication::processEvents();

    // Nothing of this input may reach the next one: notes, history, payloads (the chunk store
    // goes with it).
    startedRuns = endedRuns = 0;
    kept.history.clear();
    QDir(vaultPath()).removeRecursively();
    QDir().mkpath(vaultPath());
    return 0;
}
