#pragma once

#include "link/IpcMessage.h"

#include <optional>

class ExportResults;
class ExportRuntime;
class ExportSessionState;
class ScrollOrchestrator;
class SessionWatchdog;
class VaultManager;

// Starts and stops exports: "invoke_export" checks the extension's version, opens the session
// and hands over to the scroll orchestration; "request_abort" (the user cancelled in the page)
// and "abort_export" (the extension gave up) stop the running export. Main thread.
class ExportLifecycle {
public:
    static constexpr const char* minimumExtensionVersion = "0.10.0";

    ExportLifecycle(ExportRuntime& runtime, ExportSessionState& state, ExportResults& results,
        SessionWatchdog& watchdog, ScrollOrchestrator& scroll, const VaultManager& vault);

    void handleInvokeExport(const IPCMessage& message);
    // Starts an export for the current session (an action of the user interface may call it
    // too): without a vault it is refused and the onboarding window opens, otherwise the
    // scroll orchestration starts on the pool.
    void triggerExportToObsidian();
    void handleRequestAbort(const std::optional<IPCArgs>& args);
    void handleAbortExport(const std::optional<IPCArgs>& args);

private:
    ExportRuntime& runtime_;
    ExportSessionState& state_;
    ExportResults& results_;
    SessionWatchdog& watchdog_;
    ScrollOrchestrator& scroll_;
    const VaultManager& vault_;
};
