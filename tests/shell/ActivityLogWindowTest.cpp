#include "shell/ActivityLogWindow.h"

#include "core/ActivityLog.h"
#include "support/WindowImages.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScrollBar>

#include <gtest/gtest.h>

TEST(ActivityLogWindow, AppendsFormattedLinesWithOneLineFeedEach)
{
    ActivityLogWindow window;
    const QDateTime at(QDate(2026, 12, 10), QTime(9, 5, 7));
    window.appendLine(ActivityLog::formatLine(QStringLiteral("Waiting for extension communication..."), at));
    window.appendLine(ActivityLog::formatLine(QStringLiteral("already ends\n"), at));
    window.appendLine(ActivityLog::formatLine(QStringLiteral("two\nlines"), at));
    EXPECT_EQ(window.text(), QStringLiteral("[2026-12-10 09:05:07] Waiting for extension communication...\n"
                                           "[2026-12-10 09:05:07] already ends\n"
                                           "[2026-12-10 09:05:07] two\nlines\n"));
}

TEST(ActivityLogWindow, ClearAllThenTheNextLineStartsAtTheTopAndCopyAllCopiesTheLog)
{
    ActivityLogWindow window;
    window.appendLine(QStringLiteral("[t] first\n"));
    window.copyAllActivityLog();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("[t] first\n"));

    window.clearAllActivityLog();
    EXPECT_EQ(window.text(), QString());
    window.appendLine(QStringLiteral("[t] after clearing\n"));
    EXPECT_EQ(window.text(), QStringLiteral("[t] after clearing\n"));
    window.copyAllActivityLog();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("[t] after clearing\n"));
}

TEST(ActivityLogWindow, KeepsTheNewestLinesAndScrollsToTheEnd)
{
    ActivityLogWindow window;
    window.resize(900, 700);
    window.show();
    const int total = ActivityLogWindow::maximumLines + 25;
    for (int i = 1; i <= total; ++i) {
        window.appendLine(QStringLiteral("line %1\n").arg(i));
    }
    const QString text = window.text();
    EXPECT_TRUE(text.startsWith(QStringLiteral("line 26\n"))) << text.left(40).toStdString();
    EXPECT_TRUE(text.endsWith(QStringLiteral("line %1\n").arg(total)));
    EXPECT_EQ(text.count(QLatin1Char('\n')), ActivityLogWindow::maximumLines);
    QScrollBar* bar = window.textView()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());

    window.copyAllActivityLog();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), text);
}

TEST(ActivityLogWindow, RendersForAPersonToLookAt)
{
    ActivityLogWindow window;
    const QDateTime at(QDate(2026, 12, 10), QTime(9, 5, 7));
    for (const char* line : {"Waiting for extension communication...", "[WS-LOG] WebSocketServer listening on port 53122 (Loopback only)",
             "Notifications already authorized.", "Registered URL handler for mossbridge://", "[WS-SERVER] WebSocket Client connected",
             "✅ Export complete: Inbox/Planning a trip.md"}) {
        window.appendLine(ActivityLog::formatLine(QString::fromUtf8(line), at));
    }
    window.show();
    EXPECT_FALSE(testsupport::saveWindowImage(window, QStringLiteral("activity-log")).isEmpty());
}
