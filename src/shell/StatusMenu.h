#pragma once

#include "storage/ExportHistoryItem.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QMenu;

// The tray icon's menu: the vault (or the status line), the recent exports and the program's
// commands. Built afresh on every change; nothing may keep an entry across rebuilds.
class StatusMenu {
public:
    struct Actions {
        std::function<void(const ExportHistoryItem&)> openRecentExport;
        std::function<void()> openMainWindow;
        std::function<void()> checkForUpdatesAndActivate;
        std::function<void()> openFeedbackForm;
        std::function<void()> openSettingsWindow;
        std::function<void()> quitFromMenu;
    };

    // `vaultPath`: the vault folder, or nothing when none is set. `recentExports`: at most five
    // successful exports, newest first. `bundleVersion`: the program's version ("" when unknown).
    static std::unique_ptr<QMenu> build(const std::optional<QString>& vaultPath,
        const QList<ExportHistoryItem>& recentExports, const QString& bundleVersion, const Actions& actions);

    static QString vaultEntryText(const std::optional<QString>& vaultPath);
    static QString versionEntryText(const QString& bundleVersion);
};
