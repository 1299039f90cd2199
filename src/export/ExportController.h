#pragma once

#include "export/ExportServices.h"
#include "export/ExportTimings.h"

#include <memory>

class CapturedPageProcessor;
class ExportLifecycle;
class ExportResults;
class ExportRuntime;
class ExportSessionState;
class ExportShell;
class MessageDispatcher;
class RequestExchange;
class ScrollOrchestrator;
class SessionWatchdog;
class WebSocketServer;

// Drives exports for the browser extension. Owns the export's state (ExportSessionState) and
// the parts that work on it, each given only what it uses: the message dispatcher (the
// server's delegate), the request exchange, the export start and abort, the scroll
// orchestration, the captured-page processing, the results, and the watchdog that ends a
// session nothing else would. Lives on the main thread; the server calls the dispatcher on
// its own thread, and long work runs on the controller's thread pool.
class ExportController {
public:
    ExportController(ExportShell* shell, ExportServices services, ExportTimings timings = {});
    ~ExportController();
    ExportController(const ExportController&) = delete;
    ExportController& operator=(const ExportController&) = delete;

    // The server replies and requests go through; set by the owner, may be null.
    void setWebSocketServer(WebSocketServer* server);

    // Stops the scroll loop at its next check and waits (running the main event loop) until
    // every piece of background work has returned. Call on the main thread before the server
    // goes away; the destructor does it too.
    void shutdown();

    // What the server is given as its delegate.
    MessageDispatcher& dispatcher() { return *dispatcher_; }
    // The session state, for the shell and tests (main thread, except for the locked flags).
    ExportSessionState& state() { return *state_; }
    const ExportSessionState& state() const { return *state_; }
    // The parts, for the shell and tests.
    RequestExchange& exchange() { return *exchange_; }
    ExportLifecycle& lifecycle() { return *lifecycle_; }
    ScrollOrchestrator& scroll() { return *scroll_; }
    CapturedPageProcessor& processor() { return *processor_; }
    ExportResults& results() { return *results_; }

private:
    const ExportServices services_;
    // Declared before the parts: destroyed after them.
    std::unique_ptr<ExportRuntime> runtime_;
    std::unique_ptr<ExportSessionState> state_;
    std::unique_ptr<ExportResults> results_;
    std::unique_ptr<RequestExchange> exchange_;
    std::unique_ptr<SessionWatchdog> watchdog_;
    std::unique_ptr<CapturedPageProcessor> processor_;
    std::unique_ptr<ScrollOrchestrator> scroll_;
    std::unique_ptr<ExportLifecycle> lifecycle_;
    std::unique_ptr<MessageDispatcher> dispatcher_;
};
