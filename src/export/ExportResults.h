#pragma once

#include "export/ObsidianOpenInfo.h"
#include "link/IpcMessage.h"

#include <QString>

#include <optional>

class ExportHistoryManager;
class ExportRuntime;
class ExportSessionState;

// How an export's end is reported: the reply to the extension's waiting message, the
// instruction for the on-page panel, the abort that tells the extension the app gave up, the
// history entry of a failure, the user notification and the status line.
class ExportResults {
public:
    ExportResults(ExportRuntime& runtime, ExportSessionState& state, ExportHistoryManager& history);

    // Any thread; the reply and the panel are built and sent on the main thread.
    void sendSuccessResponse(const QString& requestId, const std::optional<ObsidianOpenInfo>& info);
    void sendErrorResponse(const QString& requestId, const QString& message);

    // Main thread. The success reply and panel; `endsSession`: the running session is the
    // export's own and ends here.
    void sendSuccessResult(const QString& requestId, const std::optional<ObsidianOpenInfo>& info, bool endsSession);
    // Main thread. The error reply and panel. A refusal leaves the running export alone and
    // addresses the panel to the tab that asked (`context`).
    void sendErrorResult(const QString& requestId, const QString& message, bool endsSession,
        const std::optional<IPCArgs>& context);
    // Main thread. The panel instruction, sent as "update_ui" and then "ui_render", with the
    // export context.
    void sendPanel(const QString& requestId, const UICommand& ui);

    // Main thread. The "abort_export" command; for the running session's tab it carries the
    // start position, so the extension can put the page back where the user had it.
    void sendAbortWithMetrics(const QString& message, std::optional<qint64> tabId,
        std::optional<qint64> windowId, std::optional<bool> isBackground);

    // Main thread: a failed export's history entry (in no vault).
    void addFailedHistoryItem(const QString& title, const QString& finalPath, const QString& message);

    // Main thread.
    void scheduleSuccessNotification(const QString& chatTitle, const ObsidianOpenInfo& info);
    void scheduleErrorNotification(const QString& chatTitle, const QString& body,
        std::optional<qint64> tabId, std::optional<qint64> windowId);

    // Main thread: the status line goes back to "Ready" unless an export is running.
    void showReadyWhenIdle();

    // "Mossbridge: \"<title>\"" with "Chat" for an empty title and titles over 60 characters cut.
    static QString notificationTitle(const QString& chatTitle);

private:
    // The tab, window and session that panel messages carry (main thread).
    IPCArgs exportContextArgs() const;
    void sendPanelWithArgs(const QString& requestId, IPCArgs args, const UICommand& ui);
    void postNotification(const QString& chatTitle, const QString& body, const QVariantMap& userInfo);

    ExportRuntime& runtime_;
    ExportSessionState& state_;
    ExportHistoryManager& history_;
};
