#include "shell/MenuBarIcon.h"
#include "shell/StatusMenu.h"

#include "support/WindowImages.h"

#include <QAction>
#include <QImage>
#include <QMenu>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

ExportHistoryItem exported(const QString& title, bool success = true)
{
    ExportHistoryItem item;
    item.title = title;
    item.finalPath = QStringLiteral("Inbox/") + title + QStringLiteral(".md");
    item.vaultName = success ? QStringLiteral("Notes") : QStringLiteral("Unknown");
    item.timestamp = QDateTime::currentDateTimeUtc();
    item.success = success;
    return item;
}

// Each entry's text, "---" for a separator, "(off)" after a disabled one, its shortcut in brackets.
QStringList describe(const QMenu& menu)
{
    QStringList entries;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            entries.append(QStringLiteral("---"));
            continue;
        }
        QString entry = action->text();
        if (!action->shortcut().isEmpty()) {
            entry += QStringLiteral(" [") + action->shortcut().toString() + QLatin1Char(']');
        }
        if (!action->isEnabled()) {
            entry += QStringLiteral(" (off)");
        }
        entries.append(entry);
    }
    return entries;
}

QStringList commands(const QString& version)
{
    return {QStringLiteral("---"), QStringLiteral("Export History... [Ctrl+E]"), QStringLiteral("---"),
        QStringLiteral("Check for Updates..."), QStringLiteral("Send Feedback..."), QStringLiteral("Change Vault..."),
        QStringLiteral("---"), QStringLiteral("Version ") + version + QStringLiteral(" (off)"),
        QStringLiteral("Quit Mossbridge [Ctrl+Q]")};
}

} // namespace

TEST(StatusMenu, EntriesFollowTheVaultTheRecentExportsAndTheVersion)
{
    const struct {
        const char* name;
        std::optional<QString> vault;
        QList<ExportHistoryItem> recent;
        QString version;
        QStringList top;
    } cases[] = {
        {"no vault, no exports", std::nullopt, {}, "1.4.0",
            {"Vault: Not Configured (off)", "---", "  (No exports yet) (off)"}},
        {"a vault and two exports", QStringLiteral("/home/u/Notes/"), {exported("Trip plans"), exported("Rust lifetimes")}, "1.4.0",
            {"Vault: Notes (off)", "---", "  \u2192 Trip plans", "  \u2192 Rust lifetimes"}},
        {"no version known", QStringLiteral("/home/u/Notes"), {}, "",
            {"Vault: Notes (off)", "---", "  (No exports yet) (off)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::unique_ptr<QMenu> menu = StatusMenu::build(c.vault, c.recent, c.version, {});
        EXPECT_EQ(describe(*menu), c.top + commands(c.version.isEmpty() ? QStringLiteral("0.0.0") : c.version));
    }
}

TEST(StatusMenu, EntriesRunTheirActions)
{
    QStringList ran;
    StatusMenu::Actions actions;
    actions.openRecentExport = [&ran](const ExportHistoryItem& item) { ran.append(QStringLiteral("open ") + item.finalPath); };
    actions.openMainWindow = [&ran] { ran.append(QStringLiteral("history")); };
    actions.checkForUpdatesAndActivate = [&ran] { ran.append(QStringLiteral("updates")); };
    actions.openFeedbackForm = [&ran] { ran.append(QStringLiteral("feedback")); };
    actions.openSettingsWindow = [&ran] { ran.append(QStringLiteral("settings")); };
    actions.quitFromMenu = [&ran] { ran.append(QStringLiteral("quit")); };
    const std::unique_ptr<QMenu> menu = StatusMenu::build(QStringLiteral("/v/Notes"), {exported("Trip")}, "1.0", actions);
    for (QAction* action : menu->actions()) {
        if (action->isEnabled() && !action->isSeparator()) {
            action->trigger();
        }
    }
    EXPECT_EQ(ran, (QStringList {"open Inbox/Trip.md", "history", "updates", "feedback", "settings", "quit"}));
}

TEST(StatusMenu, RendersForAPersonToLookAt)
{
    const std::unique_ptr<QMenu> menu = StatusMenu::build(QStringLiteral("/home/u/Notes"),
        {exported("Planning a trip to Lisbon"), exported("Rust lifetimes explained"), exported("Sourdough schedule")}, "0.1.0", {});
    menu->adjustSize();
    EXPECT_FALSE(testsupport::saveWindowImage(*menu, QStringLiteral("tray-menu")).isEmpty());
}

TEST(MenuBarIcon, ThePackagedGlyphIsAMask)
{
    const QIcon icon = createMenuBarIcon(QSize(18, 18));
    EXPECT_TRUE(icon.isMask());
    const QImage image = icon.pixmap(QSize(18, 18)).toImage();
    EXPECT_EQ(image.size(), QSize(18, 18));
    EXPECT_GT(qAlpha(image.pixel(9, 5)), 0) << "the packaged glyph was not drawn";
}

TEST(MenuBarIcon, WithoutTheImageTheDrawnGlyphIsCentredAtNinetyPercentOfTheTighterSide)
{
    for (const QSize size : {QSize(18, 18), QSize(40, 18), QSize(18, 40)}) {
        SCOPED_TRACE(size.width() * 100 + size.height());
        const QRectF box = menuBarGlyphPath(size.width(), size.height()).boundingRect();
        const qreal s = 0.9 * std::min(size.height() / 550.0, size.width() / 803.0);
        EXPECT_NEAR(box.width(), 803 * s, 1e-6);
        EXPECT_NEAR(box.height(), 550 * s, 1e-6);
        EXPECT_NEAR(box.center().x(), size.width() / 2.0, 1e-6);
        EXPECT_NEAR(box.center().y(), size.height() / 2.0, 1e-6);
        // 90 % of the tighter side.
        EXPECT_NEAR(std::max(box.width() / size.width(), box.height() / size.height()), 0.9, 1e-6);
    }
    const QIcon drawn = createMenuBarIcon(QSize(18, 18), QStringLiteral(":/resources/missing.svg"));
    EXPECT_TRUE(drawn.isMask());
    const QImage image = drawn.pixmap(QSize(18, 18)).toImage();
    // The arch is open at the bottom middle and closed across the top.
    EXPECT_GT(qAlpha(image.pixel(9, 4)), 0);
    EXPECT_EQ(qAlpha(image.pixel(9, 14)), 0);
}
