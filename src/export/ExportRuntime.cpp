#include "export/ExportRuntime.h"

#include "core/Dispatch.h"
#include "export/ExportShell.h"
#include "link/IpcMessage.h"
#include "link/WebSocketServer.h"

#include <QCoreApplication>
#include <QMetaObject>

ExportRuntime::ExportRuntime(ExportShell* shell, ExportTimings timings)
    : shell_(shell)
    , timings_(timings)
{
    pool_.setMaxThreadCount(8);
}

ExportRuntime::~ExportRuntime()
{
    shutdown();
}

void ExportRuntime::postMain(std::function<void()> work)
{
    QMetaObject::invokeMethod(&mainContext_, std::move(work), Qt::QueuedConnection);
}

void ExportRuntime::runMainSync(const std::function<void()>& work)
{
    if (isMainThread()) {
        work();
        return;
    }
    QMetaObject::invokeMethod(&mainContext_, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

void ExportRuntime::startBackground(std::function<void()> work)
{
    if (isShuttingDown()) {
        return;
    }
    pool_.start(std::move(work));
}

void ExportRuntime::pause(std::chrono::milliseconds duration)
{
    std::unique_lock lock(pauseMutex_);
    pauseWake_.wait_for(lock, duration, [this] { return shuttingDown_.load(); });
}

void ExportRuntime::shutdown()
{
    shuttingDown_.store(true);
    {
        std::lock_guard lock(pauseMutex_);
    }
    pauseWake_.notify_all();
    // Workers may be waiting for the main thread; keep serving it while they finish.
    while (!pool_.waitForDone(10)) {
        if (isMainThread()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
    }
}

void ExportRuntime::send(const IPCMessage& message)
{
    if (WebSocketServer* server = webSocketServer_.load()) {
        server->send(message.encode());
    }
}

void ExportRuntime::updateStatus(const QString& text)
{
    postMain([this, text] {
        if (shell_ != nullptr) {
            shell_->updateStatus(text);
        }
    });
}
