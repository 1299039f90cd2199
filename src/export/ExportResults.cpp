#include "export/ExportResults.h"

#include "core/ActivityLog.h"
#include "core/Graphemes.h"
#include "core/UuidText.h"
#include "export/ExportRuntime.h"
#include "export/ExportSessionState.h"
#include "export/ExportShell.h"
#include "export/ExportText.h"
#include "storage/ExportHistoryManager.h"

#include <QDateTime>

ExportResults::ExportResults(ExportRuntime& runtime, ExportSessionState& state, ExportHistoryManager& history)
    : runtime_(runtime)
    , state_(state)
    , history_(history)
{
}

IPCArgs ExportResults::exportContextArgs() const
{
    IPCArgs args;
    if (const std::optional<ExportSession>& session = state_.currentExport()) {
        args.tabId = session->tabId;
        args.windowId = session->windowId;
        args.session = SessionContext {session->tabId, session->windowId, ExportSession::wireText(session->status)};
    } else {
        const std::optional<qint64> tabId = state_.lastExportTabId();
        const std::optional<qint64> windowId = state_.lastExportWindowId();
        args.tabId = tabId;
        args.windowId = windowId;
        if (tabId && windowId) {
            // Not a session status: what the panel shows once the session is over.
            args.session = SessionContext {*tabId, *windowId, QStringLiteral("processing")};
        }
    }
    return args;
}

void ExportResults::sendPanelWithArgs(const QString& requestId, IPCArgs args, const UICommand& ui)
{
    args.ui = ui;
    for (const char* command : {"update_ui", "ui_render"}) {
        IPCMessage message = ExportText::appMessage(QStringLiteral("command"), QString::fromLatin1(command), requestId);
        message.args = args;
        runtime_.send(message);
    }
}

void ExportResults::sendPanel(const QString& requestId, const UICommand& ui)
{
    sendPanelWithArgs(requestId, exportContextArgs(), ui);
}

void ExportResults::sendSuccessResponse(const QString& requestId, const std::optional<ObsidianOpenInfo>& info)
{
    runtime_.postMain([this, requestId, info] { sendSuccessResult(requestId, info, true); });
}

void ExportResults::sendSuccessResult(const QString& requestId, const std::optional<ObsidianOpenInfo>& info,
    bool endsSession)
{
    IPCMessage response = ExportText::appMessage(QStringLiteral("response"), QStringLiteral("exportMarkdown"), requestId);
    response.result = QMap<QString, QString> {
        {QStringLiteral("status"), QStringLiteral("success")},
        {QStringLiteral("message"), QStringLiteral("Saved to ") + (info ? info->vault : QStringLiteral("disk"))},
        {QStringLiteral("showOpenButton"), QStringLiteral("true")},
    };
    runtime_.send(response);

    // No link in the panel: the extension asks for the note with "open_result".
    UICommand ui;
    ui.type = QStringLiteral("success");
    ui.message = QStringLiteral("Export complete");
    ui.autoHideMs = 3000;
    ui.showOpenButton = true;
    sendPanel(requestId, ui);

    if (endsSession) {
        state_.endSession();
    }
}

void ExportResults::sendErrorResponse(const QString& requestId, const QString& message)
{
    runtime_.postMain([this, requestId, message] { sendErrorResult(requestId, message, true, std::nullopt); });
}

void ExportResults::sendErrorResult(const QString& requestId, const QString& message, bool endsSession,
    const std::optional<IPCArgs>& context)
{
    if (endsSession) {
        state_.setStatus(ExportSession::Status::error);
    }
    IPCMessage response = ExportText::appMessage(QStringLiteral("error"), QStringLiteral("exportMarkdown"), requestId);
    response.error = IPCError {message};
    runtime_.send(response);

    UICommand ui;
    ui.type = QStringLiteral("error");
    ui.message = message;
    ui.autoHideMs = 5000;
    sendPanelWithArgs(requestId, context ? *context : exportContextArgs(), ui);
    if (endsSession) {
        state_.endSession();
    }
}

void ExportResults::sendAbortWithMetrics(const QString& message, std::optional<qint64> tabId,
    std::optional<qint64> windowId, std::optional<bool> isBackground)
{
    IPCArgs args;
    args.message = message;
    args.tabId = tabId;
    args.windowId = windowId;
    args.isBackground = isBackground;
    const std::optional<ExportSession>& session = state_.currentExport();
    if (session && tabId && *tabId == session->tabId) {
        args.value = session->startScrollTop;
        args.windowX = session->startWindowScrollX;
        args.windowY = session->startWindowScrollY;
    }
    IPCMessage abort = ExportText::appMessage(QStringLiteral("command"), QStringLiteral("abort_export"), UuidText::fresh());
    abort.args = args;
    runtime_.send(abort);
}

void ExportResults::addFailedHistoryItem(const QString& title, const QString& finalPath, const QString& message)
{
    ExportHistoryItem item;
    item.title = title;
    item.finalPath = finalPath;
    item.vaultName = QStringLiteral("Unknown");
    item.timestamp = QDateTime::currentDateTimeUtc();
    item.success = false;
    item.errorMessage = message;
    history_.add(item);
}

QString ExportResults::notificationTitle(const QString& chatTitle)
{
    QString title = chatTitle.isEmpty() ? QStringLiteral("Chat") : chatTitle;
    if (const std::optional<QString> cut = Graphemes::cut(title, 60)) {
        title = *cut + QStringLiteral("…");
    }
    return QStringLiteral("Mossbridge: \"") + title + QStringLiteral("\"");
}

void ExportResults::postNotification(const QString& chatTitle, const QString& body, const QVariantMap& userInfo)
{
    ExportShell* shell = runtime_.shell();
    if (shell == nullptr) {
        return;
    }
    if (const std::optional<QString> error = shell->postNotification(notificationTitle(chatTitle), body, userInfo)) {
        appendLog(QStringLiteral("❌ Failed to schedule notification: ") + *error);
    }
}

void ExportResults::scheduleSuccessNotification(const QString& chatTitle, const ObsidianOpenInfo& info)
{
    const QString body = QStringLiteral("Click to open '") + (chatTitle.isEmpty() ? QStringLiteral("Note") : chatTitle)
        + QStringLiteral("' in Obsidian.");
    postNotification(chatTitle, body, {
        {QStringLiteral("obsidianUrl"), info.obsidianUrl},
        {QStringLiteral("vaultName"), info.vault},
        {QStringLiteral("filePath"), info.file},
    });
}

void ExportResults::scheduleErrorNotification(const QString& chatTitle, const QString& body,
    std::optional<qint64> tabId, std::optional<qint64> windowId)
{
    const std::optional<qint64> tab = tabId ? tabId : state_.lastExportTabId();
    const std::optional<qint64> window = windowId ? windowId : state_.lastExportWindowId();
    QVariantMap userInfo;
    if (tab && window) {
        userInfo.insert(QStringLiteral("focusTabId"), QString::number(*tab));
        userInfo.insert(QStringLiteral("focusWindowId"), QString::number(*window));
    }
    postNotification(chatTitle, body, userInfo);
}

void ExportResults::showReadyWhenIdle()
{
    if (!state_.currentExport()) {
        runtime_.updateStatus(QStringLiteral("Ready"));
    }
}
