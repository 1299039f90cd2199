#include "shell/NotificationTapHandler.h"

#include "core/ActivityLog.h"
#include "core/UuidText.h"
#include "link/IpcMessage.h"
#include "platform/ApplicationLauncher.h"
#include "platform/Workspace.h"

#include <QRegularExpression>
#include <QUrl>

namespace {

std::optional<QString> text(const QVariantMap& userInfo, const char* key)
{
    const QVariant value = userInfo.value(QString::fromLatin1(key));
    if (value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    return value.toString();
}

// A decimal integer with an optional leading sign, and nothing else.
std::optional<qint64> integer(const std::optional<QString>& value)
{
    static const QRegularExpression pattern(QStringLiteral("^[+-]?[0-9]+$"));
    if (!value || !pattern.match(*value).hasMatch()) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 number = value->toLongLong(&ok);
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

} // namespace

NotificationTapHandler::NotificationTapHandler(Actions actions)
    : actions_(std::move(actions))
{
}

NotificationTapHandler::Outcome NotificationTapHandler::handle(const QVariantMap& userInfo) const
{
    const std::optional<QString> vaultName = text(userInfo, "vaultName");
    const std::optional<QString> filePath = text(userInfo, "filePath");
    if (vaultName && filePath) {
        actions_.openViaUrlScheme(*vaultName, *filePath);
        return Outcome::openedNoteLink;
    }
    if (const std::optional<QString> link = text(userInfo, "obsidianUrl")) {
        const QUrl url(*link, QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty()) {
            actions_.openUrl(url);
            return Outcome::openedUrl;
        }
    }
    if (const std::optional<QString> path = text(userInfo, "path")) {
        actions_.openFile(*path);
        return Outcome::openedFile;
    }
    const std::optional<qint64> tabId = integer(text(userInfo, "focusTabId"));
    const std::optional<qint64> windowId = integer(text(userInfo, "focusWindowId"));
    if (tabId && windowId) {
        IPCArgs args;
        args.tabId = tabId;
        args.windowId = windowId;
        const QString requestId = UuidText::fresh();
        actions_.sendToExtension(IPCMessage::make(QStringLiteral("app"), QStringLiteral("command"),
            QStringLiteral("focus_tab"), requestId, args)
                                     .encode());
        actions_.activateBrowser();
        return Outcome::focusedTab;
    }
    return Outcome::nothing;
}

void NotificationTapHandler::openFileInObsidian(const QString& path)
{
    const QUrl fileUrl = QUrl::fromLocalFile(path);
    if (const std::optional<QString> entry = ApplicationLauncher::obsidianDesktopEntry()) {
        const QString error = ApplicationLauncher::openFile(*entry, path);
        if (error.isEmpty()) {
            ApplicationLauncher::activateRunningApplication({QStringLiteral("obsidian")});
            return;
        }
        appendLog(QStringLiteral("Failed to open note in Obsidian: ") + error);
    }
    Workspace::openUrl(fileUrl);
}
