#pragma once

#include "export/ExportTimings.h"

#include <QObject>
#include <QString>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

class ExportShell;
class WebSocketServer;
struct IPCMessage;

// What the parts of the export controller work through, holding no export state: the main
// thread and the pool, the extension's connection, the shell, and the export's durations.
// Any thread, except where said.
class ExportRuntime {
public:
    ExportRuntime(ExportShell* shell, ExportTimings timings);
    ~ExportRuntime();
    ExportRuntime(const ExportRuntime&) = delete;
    ExportRuntime& operator=(const ExportRuntime&) = delete;

    const ExportTimings& timings() const { return timings_; }
    // The shell's operations are called on the main thread only; may be null.
    ExportShell* shell() const { return shell_; }
    // The owner of what the parts run on the main thread (timers, posted work): what is still
    // queued when the controller goes is dropped.
    QObject* mainContext() { return &mainContext_; }

    // Queues work on the main thread.
    void postMain(std::function<void()> work);
    // Runs work on the main thread and waits for it.
    void runMainSync(const std::function<void()>& work);
    // Runs work on the pool, unless the controller is shutting down.
    void startBackground(std::function<void()> work);
    QThreadPool& pool() { return pool_; }
    // Sleeps, waking early at shutdown.
    void pause(std::chrono::milliseconds duration);
    bool isShuttingDown() const { return shuttingDown_.load(); }
    // Wakes every sleeper, refuses new pool work and waits (serving the main thread when
    // called there) until the pool's work has returned.
    void shutdown();

    // The server replies and requests go through; set by the owner, may be null.
    void setWebSocketServer(WebSocketServer* server) { webSocketServer_.store(server); }
    WebSocketServer* webSocketServer() const { return webSocketServer_.load(); }
    // Sends a message to the extension; dropped without a server.
    void send(const IPCMessage& message);

    // The status line, posted to the main thread.
    void updateStatus(const QString& text);

private:
    ExportShell* shell_;
    const ExportTimings timings_;
    QObject mainContext_;
    std::atomic<WebSocketServer*> webSocketServer_ {nullptr};

    std::atomic<bool> shuttingDown_ {false};
    std::mutex pauseMutex_;
    std::condition_variable pauseWake_;

    // Last: destroyed first, after shutdown waited for its work.
    QThreadPool pool_;
};
