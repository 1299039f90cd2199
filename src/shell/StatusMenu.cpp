#include "shell/StatusMenu.h"

#include <QAction>
#include <QFileInfo>
#include <QKeySequence>
#include <QMenu>

QString StatusMenu::vaultEntryText(const std::optional<QString>& vaultPath)
{
    if (!vaultPath) {
        return QStringLiteral("Vault: ") + QStringLiteral("Not Configured");
    }
    QString path = *vaultPath;
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) {
        path.chop(1);
    }
    return QStringLiteral("Vault: ") + QFileInfo(path).fileName();
}

QString StatusMenu::versionEntryText(const QString& bundleVersion)
{
    return QStringLiteral("Version ") + (bundleVersion.isEmpty() ? QStringLiteral("0.0.0") : bundleVersion);
}

std::unique_ptr<QMenu> StatusMenu::build(const std::optional<QString>& vaultPath,
    const QList<ExportHistoryItem>& recentExports, const QString& bundleVersion, const Actions& actions)
{
    auto menu = std::make_unique<QMenu>();
    auto addCommand = [&menu](const QString& text, const std::function<void()>& action) {
        QAction* entry = menu->addAction(text);
        QObject::connect(entry, &QAction::triggered, entry, [action] {
            if (action) {
                action();
            }
        });
        return entry;
    };

    menu->addAction(vaultEntryText(vaultPath))->setEnabled(false);
    menu->addSeparator();
    if (recentExports.isEmpty()) {
        menu->addAction(QStringLiteral("  (No exports yet)"))->setEnabled(false);
    }
    for (const ExportHistoryItem& item : recentExports) {
        const auto open = actions.openRecentExport;
        addCommand(QStringLiteral("  \u2192 ") + item.title, [open, item] {
            if (open) {
                open(item);
            }
        });
    }
    menu->addSeparator();
    addCommand(QStringLiteral("Export History..."), actions.openMainWindow)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    menu->addSeparator();
    addCommand(QStringLiteral("Check for Updates..."), actions.checkForUpdatesAndActivate);
    addCommand(QStringLiteral("Send Feedback..."), actions.openFeedbackForm);
    addCommand(QStringLiteral("Change Vault..."), actions.openSettingsWindow);
    menu->addSeparator();
    menu->addAction(versionEntryText(bundleVersion))->setEnabled(false);
    addCommand(QStringLiteral("Quit Mossbridge"), actions.quitFromMenu)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    return menu;
}
