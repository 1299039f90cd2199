#include "shell/ActivityLogWindow.h"

#include "core/ActivityLog.h"
#include "support/WindowImages.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextDocument>

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

// The log keeps the newest lines within both caps, whichever binds first; the newest line
// stays even when it alone is over the byte cap.
struct CapCase {
    const char* name;
    const char* id;
    QString line;
    int appended;
};

void PrintTo(const CapCase& c, std::ostream* os)
{
    *os << c.name;
}

class ActivityLogCaps : public testing::TestWithParam<CapCase> { };

TEST_P(ActivityLogCaps, KeepTheNewestLinesWithinBothCaps)
{
    const CapCase& c = GetParam();
    ActivityLogWindow window;
    for (int i = 0; i < c.appended; ++i) {
        window.appendLine(QStringLiteral("%1 ").arg(i, 6, 10, QLatin1Char('0')) + c.line);
    }
    const QString text = window.text();
    const qsizetype bytes = text.toUtf8().size();
    EXPECT_EQ(window.byteCount(), bytes);
    EXPECT_LE(window.lineCount(), ActivityLogWindow::maximumLines);
    if (window.lineCount() > 1) {
        EXPECT_LE(bytes, ActivityLogWindow::maximumBytes);
    }
    // Whole lines, the newest last, none missing in between.
    const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), window.lineCount());
    EXPECT_TRUE(lines.last().startsWith(QStringLiteral("%1 ").arg(c.appended - 1, 6, 10, QLatin1Char('0'))));
    EXPECT_TRUE(lines.first().startsWith(QStringLiteral("%1 ").arg(c.appended - lines.size(), 6, 10, QLatin1Char('0'))));
    // One more line of the same kind would not fit: the log is as full as the caps allow.
    if (c.appended > window.lineCount()) {
        const bool atLineCap = window.lineCount() == ActivityLogWindow::maximumLines;
        const bool atByteCap = bytes + lines.first().toUtf8().size() + 1 > ActivityLogWindow::maximumBytes;
        EXPECT_TRUE(atLineCap || atByteCap);
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, ActivityLogCaps, testing::Values(
    CapCase {"short lines: the line cap", "ShortLines", QStringLiteral("[SERVER] CMD: ping"), 25000},
    CapCase {"long lines: the byte cap", "LongLines", QString(1000, QLatin1Char('a')), 5000},
    CapCase {"CJK lines count their UTF-8 bytes", "CjkLines", QString(300, QChar(0x6F22)), 5000},
    CapCase {"emoji lines", "EmojiLines", QString::fromUtf8("✅ 😀😀😀 Pushed to Obsidian ").repeated(20), 8000},
    CapCase {"one line over the cap stays alone", "OneLineOverTheCap", QString(3 * 1024 * 1024, QLatin1Char('z')), 3}),
    [](const testing::TestParamInfo<CapCase>& info) { return std::string(info.param.id); });

// A thousand exports' worth of lines into the hidden window: its view is never filled or laid
// out, and what the log holds stops growing at the caps. Shown, the view holds the log and
// follows it; hidden again, the view lets its text go.
TEST(ActivityLogWindow, AHiddenWindowLaysNothingOutAndTheShownOneFollowsTheLog)
{
    ActivityLogWindow window;
    window.resize(900, 700);
    const QTextDocument& view = *window.textView()->document();
    // What one export logs, near enough: its requests, chunks and downloads.
    QStringList exportLines;
    for (int i = 0; i < 170; ++i) {
        exportLines.append(ActivityLog::formatLine(
            QStringLiteral("[SERVER] CMD: saveDomHtmlChunk (RID: 5C1A0E2B-8F67-4B0F-9D5E-%1)").arg(i, 12, 10, QLatin1Char('0')),
            QDateTime(QDate(2026, 1, 5), QTime(8, 0))));
    }
    QList<qsizetype> heldAfterHundreds;
    for (int e = 1; e <= 1000; ++e) {
        for (const QString& line : std::as_const(exportLines)) {
            window.appendLine(line);
        }
        if (e % 100 == 0) {
            EXPECT_EQ(view.characterCount(), 1) << "after " << e << " exports";
            heldAfterHundreds.append(window.byteCount());
        }
    }
    EXPECT_LE(heldAfterHundreds.last(), ActivityLogWindow::maximumBytes);
    EXPECT_EQ(heldAfterHundreds.last(), heldAfterHundreds[heldAfterHundreds.size() - 2]);
    EXPECT_GT(heldAfterHundreds.first(), 0);

    window.show();
    EXPECT_EQ(window.textView()->toPlainText(), window.text());
    QScrollBar* bar = window.textView()->verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    for (const QString& line : std::as_const(exportLines)) {
        window.appendLine(line);
    }
    window.appendLine(QStringLiteral("[t] the newest\n"));
    EXPECT_EQ(window.textView()->toPlainText(), window.text());
    EXPECT_EQ(bar->value(), bar->maximum());

    window.hide();
    EXPECT_EQ(view.characterCount(), 1);
    window.appendLine(QStringLiteral("[t] while hidden\n"));
    window.show();
    EXPECT_TRUE(window.textView()->toPlainText().endsWith(QStringLiteral("[t] the newest\n[t] while hidden\n")));

    window.clearAllActivityLog();
    EXPECT_EQ(window.textView()->toPlainText(), QString());
    EXPECT_EQ(window.byteCount(), 0);
}
