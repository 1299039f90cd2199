#include "export/ExportLifecycle.h"

#include "core/ActivityLog.h"
#include "core/VersionNumber.h"
#include "export/ExportResults.h"
#include "export/ExportRuntime.h"
#include "export/ExportSessionState.h"
#include "export/ExportShell.h"
#include "export/ExportText.h"
#include "export/ScrollOrchestrator.h"
#include "export/SessionWatchdog.h"
#include "storage/VaultManager.h"

ExportLifecycle::ExportLifecycle(ExportRuntime& runtime, ExportSessionState& state, ExportResults& results,
    SessionWatchdog& watchdog, ScrollOrchestrator& scroll, const VaultManager& vault)
    : runtime_(runtime)
    , state_(state)
    , results_(results)
    , watchdog_(watchdog)
    , scroll_(scroll)
    , vault_(vault)
{
}

void ExportLifecycle::handleInvokeExport(const IPCMessage& message)
{
    const std::optional<IPCArgs>& args = message.args;
    // A refusal is addressed to the tab that asked, and leaves a running export alone.
    std::optional<IPCArgs> askingTab;
    if (args && args->tabId && args->windowId) {
        IPCArgs context;
        context.tabId = args->tabId;
        context.windowId = args->windowId;
        context.session = SessionContext {*args->tabId, *args->windowId, ExportSession::wireText(ExportSession::Status::error)};
        askingTab = context;
    }

    const std::optional<QString>& version = state_.connectedExtensionVersion();
    if (version && VersionNumber::compare(*version, QString::fromLatin1(minimumExtensionVersion)) < 0) {
        results_.sendErrorResult(message.request_id,
            QStringLiteral("Chrome Extension version ") + *version
                + QStringLiteral(" is too old. Please update to 0.10.0+ via Chrome Web Store."),
            false, askingTab);
        return;
    }
    if (args) {
        if (!args->tabId || !args->windowId) {
            state_.setLastExport(args->tabId, args->windowId);
        } else {
            const std::optional<ExportSession>& running = state_.currentExport();
            if (running && running->tabId != *args->tabId && !running->isFinished()) {
                results_.sendErrorResult(message.request_id, QStringLiteral("Export already in progress in another tab"),
                    false, askingTab);
                return;
            }
            state_.startSession(*args->tabId, *args->windowId, message.request_id);
            watchdog_.watch();
        }
    }
    state_.clearTabBackgrounded();
    triggerExportToObsidian();
}

void ExportLifecycle::triggerExportToObsidian()
{
    appendLog(QStringLiteral("Export triggered: ") + state_.newPendingExport());
    runtime_.updateStatus(QStringLiteral("Exporting..."));

    if (!vault_.getVaultURL()) {
        std::optional<qint64> tabId;
        std::optional<qint64> windowId;
        if (const std::optional<ExportSession>& session = state_.currentExport()) {
            tabId = session->tabId;
            windowId = session->windowId;
        }
        if (state_.isTabBackgrounded()) {
            results_.scheduleErrorNotification(QStringLiteral("Current Chat"),
                QStringLiteral("Export Failed: ") + ExportText::configureVault(), tabId, windowId);
        }
        results_.sendAbortWithMetrics(ExportText::configureVault(), tabId, windowId, std::nullopt);
        // The export is over: a session left behind would refuse every other tab's export.
        state_.endSession();
        runtime_.updateStatus(QStringLiteral("Ready"));
        if (ExportShell* shell = runtime_.shell()) {
            shell->showOnboarding(OnboardingMode::onboarding);
        }
        return;
    }
    runtime_.startBackground([this] { scroll_.orchestrateScrollToTop(); });
}

void ExportLifecycle::handleRequestAbort(const std::optional<IPCArgs>& args)
{
    const QString reason = args && args->message ? *args->message : QStringLiteral("User Cancelled");
    appendLog(QStringLiteral("Request Abort received: ") + reason);
    results_.sendAbortWithMetrics(reason, args ? args->tabId : std::nullopt, args ? args->windowId : std::nullopt,
        std::nullopt);
    state_.setExportAborted(true);
    state_.endSession();
    runtime_.updateStatus(QStringLiteral("Ready"));
}

void ExportLifecycle::handleAbortExport(const std::optional<IPCArgs>& args)
{
    const std::optional<qint64> tabId = args ? args->tabId : std::nullopt;
    const std::optional<ExportSession>& session = state_.currentExport();
    appendLog(QStringLiteral("[DEBUG] abort_export received: tabId=") + QString::number(tabId.value_or(-1)));
    if (tabId && session && *tabId != session->tabId) {
        appendLog(QStringLiteral("[INFO] Ignoring stale abort_export for tab ") + QString::number(*tabId)
            + QStringLiteral(", current export is on tab ") + QString::number(session->tabId));
        return;
    }
    const QString chatTitle = session && session->chatTitle && !session->chatTitle->isEmpty()
        ? *session->chatTitle
        : QStringLiteral("Current Chat");
    state_.setExportAborted(true);
    state_.endSession();
    const QString reason = args && args->message ? *args->message : QStringLiteral("Unknown reason");
    appendLog(QStringLiteral("🛑 Export aborted by extension: ") + reason);
    if (state_.isTabBackgrounded()) {
        results_.scheduleErrorNotification(chatTitle, QStringLiteral("Export failed: ") + reason,
            args ? args->tabId : std::nullopt, args ? args->windowId : std::nullopt);
    }
}
