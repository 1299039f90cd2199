// The envelope decoder and the dispatcher's argument checks on arbitrary bytes. An input is
// one message per line, so that runs of chunks followed by their announcement are reachable.
// The controller runs with short durations behind a server that never listens: replies go
// nowhere, and every input starts from a fresh controller.

#include "FuzzSupport.h"

#include "core/ActivityLog.h"
#include "export/ExportController.h"
#include "export/ExportShell.h"
#include "link/ChunkAssembler.h"
#include "link/IpcMessage.h"
#include "link/WebSocketServer.h"
#include "storage/UserDefaults.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>

#include <chrono>
#include <cstddef>
#include <cstdint>
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
    UserDefaults::setStandardPath(QDir::homePath() + QStringLiteral("/Mossbridge.conf"));
    // Lines are formatted and delivered as in the application.
    ActivityLog::shared().setSink([](const QString& line) { (void)line.size(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QList<QByteArray> lines = fuzzsupport::bytes(data, size).split('\n');

    SilentShell shell;
    auto controller = std::make_unique<ExportController>(&shell, shortTimings());
    WebSocketServer server(0, controller.get());
    controller->setWebSocketServer(&server);

    // The server thread's part: each message as the delegate receives it.
    std::unique_ptr<QThread> serverThread(QThread::create([&] {
        for (const QByteArray& line : lines) {
            controller->serverDidReceiveMessage(server, line);
        }
    }));
    serverThread->start();
    runMainLoopUntil([&] { return serverThread->isFinished(); });
    serverThread->wait();

    controller->shutdown();
    server.setDelegate(nullptr);
    controller.reset();
    QCoreApplication::processEvents();

    // Payloads of this input must not reach the next one.
    for (const QByteArray& line : lines) {
        if (const std::optional<IPCMessage> message = IPCMessage::decode(line)) {
            ChunkAssembler::shared().clear(message->request_id);
            if (message->args && message->args->htmlRequestId) {
                ChunkAssembler::shared().clear(*message->args->htmlRequestId);
            }
        }
    }
    return 0;
}
