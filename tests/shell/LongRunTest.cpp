// A tray application runs for weeks: a thousand exports in one process, through the real
// socket and the whole application (log window, history, status menu), must leave each export
// costing and holding what the first ones did.

#include "ShellFixture.h"

#include "support/ChatPage.h"
#include "support/FakeExtension.h"

#include "core/ActivityLog.h"
#include "export/ExportController.h"
#include "link/WebSocketServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTimer>

#if __has_include(<malloc.h>)
#include <malloc.h>
#endif

#include <algorithm>

using namespace std::chrono_literals;

namespace {

// The heap the program uses, in bytes; nothing where the allocator does not say.
std::optional<qint64> heapInUse()
{
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    const struct mallinfo2 info = mallinfo2();
    return static_cast<qint64>(info.uordblks + info.hblkhd);
#else
    return std::nullopt;
#endif
}

// Runs the main thread's events until `done`, looking again whenever an event arrives (the
// fake extension posts one for every message it receives): a thousand exports must not take
// much longer than their work.
bool runUntil(const std::function<bool()>& done)
{
    QElapsedTimer timer;
    timer.start();
    QTimer deadline;
    deadline.start(10000); // wakes the wait below if nothing else does
    while (!done()) {
        if (timer.elapsed() > 10000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// What the program holds after a number of exports.
struct Held {
    qsizetype logBytes = 0;
    qsizetype logLines = 0;
    int viewCharacters = 0;
    std::optional<qint64> heap;
};

} // namespace

// Settings and vault in memory where the system has a memory file system: a thousand notes,
// each synced to disk, would make the run last minutes without telling anything more.
class LongRun : public ShellFixture {
protected:
    void SetUp() override
    {
        ShellFixture::SetUp();
        ASSERT_TRUE(memoryDir_.isValid());
        UserDefaults::setStandardPath(memoryDir_.filePath(QStringLiteral("Mossbridge.conf")));
        ConfigManager::shared().reload();
        ExportHistoryManager::shared().reload();
        const QString vault = memoryDir_.filePath(QStringLiteral("Vault"));
        QDir().mkpath(vault);
        VaultManager().setVaultURL(vault);
    }

    static QString memoryTemplate()
    {
        const QString base = QFileInfo(QStringLiteral("/dev/shm")).isDir() ? QStringLiteral("/dev/shm") : QDir::tempPath();
        return base + QStringLiteral("/mossbridge-long-run-XXXXXX");
    }

    QTemporaryDir memoryDir_ {memoryTemplate()};
};

TEST_F(LongRun, AThousandExportsHoldAndCostWhatTheFirstOnesDid)
{
    constexpr int exports = 1000;
    // Not the first launch: the main window stays closed, as it is for most of a long run.
    UserDefaults::standard().setBool(QStringLiteral("HasLaunchedBefore"), true);
    AppDelegate& delegate = launch();
    FakeExtension extension;
    ASSERT_TRUE(extension.connectTo(delegate.webSocketServer()->listeningPort()));
    ASSERT_TRUE(waitForLog(QStringLiteral("WebSocket Client connected")));

    const QByteArray page = chatPage(false);
    // One export: the page as the extension hands it over, then the export's reply.
    const auto exportOnce = [&](int i) {
        extension.clearReceived();
        const QString html = QStringLiteral("html-%1").arg(i);
        const QString exportId = QStringLiteral("export-%1").arg(i);
        extension.sendChunks(QStringLiteral("saveDomHtmlChunk"), html, page, 512);
        IPCArgs args;
        args.htmlRequestId = html;
        extension.send(FakeExtension::message(QStringLiteral("request"), QStringLiteral("exportMarkdown"), exportId, args));
        return runUntil([&] {
            const QList<IPCMessage> received = extension.received();
            return std::any_of(received.begin(), received.end(), [&](const IPCMessage& m) {
                return m.command == QStringLiteral("exportMarkdown") && m.request_id == exportId
                    && m.type == QStringLiteral("response");
            });
        });
    };

    // A log that has run for weeks already: full of an export's lines, each a string of its own.
    ActivityLogWindow& log = *delegate.logWindow();
    ASSERT_TRUE(exportOnce(0));
    testsupport::processEventsFor(5ms);
    const QStringList sample = log.text().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (qsizetype n = 0; log.lineCount() < ActivityLogWindow::maximumLines && log.byteCount() < ActivityLogWindow::maximumBytes; ++n) {
        const QString& line = sample[n % sample.size()];
        log.appendLine(QString(line.constData(), line.size()));
    }

    const QTextDocument& view = *log.textView()->document();
    const auto holding = [&] {
        testsupport::processEventsFor(5ms); // what follows the reply, and the last lines
        return Held {log.byteCount(), log.lineCount(), view.characterCount(), heapInUse()};
    };
    QList<Held> held {holding()};
    for (int i = 1; i <= exports; ++i) {
        ASSERT_TRUE(exportOnce(i)) << "export " << i;
        if (i % 100 == 0) {
            held.append(holding());
        }
    }
    extension.close();
    ASSERT_EQ(held.size(), exports / 100 + 1);

    for (const Held& h : held) {
        // The hidden window lays nothing out: its view stays empty however long the log is.
        EXPECT_EQ(h.viewCharacters, 1);
        EXPECT_LE(h.logBytes, ActivityLogWindow::maximumBytes);
        EXPECT_LE(h.logLines, ActivityLogWindow::maximumLines);
    }
    if (held.first().heap) {
        // What stays per export is its history entry; the last hundred keep no more than the
        // first did.
        const qint64 firstHundred = (*held[1].heap - *held[0].heap) / 100;
        const qint64 lastHundred = (*held.last().heap - *held[held.size() - 2].heap) / 100;
        EXPECT_LT(lastHundred, 2 * 1024) << "bytes per export";
        EXPECT_LE(lastHundred, std::max<qint64>(firstHundred, 0) + 512) << "first hundred: " << firstHundred;
    }
}
