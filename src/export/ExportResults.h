#pragma once

#include "export/ObsidianOpenInfo.h"
#include "link/IpcMessage.h"

#include <QString>

#include <optional>

class ExportController;

// How an export's end is reported: the reply to the extension's waiting message, the
// instruction for the on-page panel, and the user notification.
class ExportResults {
public:
    explicit ExportResults(ExportController& controller);

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
    // The panel instruction, sent as "update_ui" and then "ui_render", with the export context.
    void sendPanel(const QString& requestId, const UICommand& ui);

    // Main thread: a failed export's history entry (in no vault).
    void addFailedHistoryItem(const QString& title, const QString& finalPath, const QString& message);

    // Main thread.
    void scheduleSuccessNotification(const QString& chatTitle, const ObsidianOpenInfo& info);
    void scheduleErrorNotification(const QString& chatTitle, const QString& body,
        std::optional<qint64> tabId, std::optional<qint64> windowId);

    static QString notificationTitle(const QString& chatTitle);

private:
    // The tab, window and session that panel messages carry (main thread).
    IPCArgs exportContextArgs() const;
    void sendPanelWithArgs(const QString& requestId, IPCArgs args, const UICommand& ui);
    void postNotification(const QString& chatTitle, const QString& body, const QVariantMap& userInfo);

    ExportController& controller_;
};
