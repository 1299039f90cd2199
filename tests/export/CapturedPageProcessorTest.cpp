// Captured-page processing: the note's name, the failures before and during the write, and
// runs that end after their export did.

#include "SessionLifetimeFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <sys/stat.h>

using namespace std::chrono_literals;

namespace {

// Every note written under the vault, by path relative to it.
QStringList notesIn(const QString& vault)
{
    QStringList notes;
    QDirIterator it(vault, {QStringLiteral("*.md")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        notes.append(QDir(vault).relativeFilePath(it.next()));
    }
    notes.sort();
    return notes;
}

} // namespace

class CapturedPageProcessorTest : public ExportFlowFixture { };

TEST_F(CapturedPageProcessorTest, ExportMarkdownNamesAndRepliesToItsOwnId)
{
    struct Case {
        QString filename;
        QString written;
    };
    const QString vault = configureVault();
    chat_.page = chatPage(false);
    for (const Case& c : std::vector<Case> {{QStringLiteral("Chat.MD"), QStringLiteral("Chat.MD.md")},
             {QStringLiteral("Chat.md"), QStringLiteral("Chat.md")},
             {QStringLiteral("a/b:c?"), QStringLiteral("a_b_c_.md")}}) {
        SCOPED_TRACE(c.filename.toStdString());
        const QString html = freshId();
        const QString exportId = freshId();
        extension_.sendChunks(QStringLiteral("saveDomHtmlChunk"), html, chat_.page, 500);
        IPCArgs args;
        args.htmlRequestId = html;
        args.filename = c.filename;
        extension_.send(command(QStringLiteral("exportMarkdown"), args, exportId));
        const std::optional<IPCMessage> reply = waitForExportReply(exportId);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->type, QStringLiteral("response"));
        EXPECT_TRUE(QFile::exists(vault + QStringLiteral("/Mossbridge Inbox/") + c.written));
        EXPECT_FALSE(stores_.chunks.getData(html).has_value());
    }
}

TEST_F(CapturedPageProcessorTest, CapturedPageFailures)
{
    struct Case {
        const char* name;
        bool vault;
        QByteArray page;
        QString reply;
        QString line;
        bool chunksKept;
    };
    const std::vector<Case> cases {
        {"not UTF-8", true, QByteArray("<html>\xff\xfe</html>"), QStringLiteral("Failed to decode HTML"),
            QStringLiteral("[ERR] Failed to decode HTML from data"), true},
        {"no vault", false, chatPage(false), QStringLiteral("Please configure Obsidian Vault in Mossbridge App Settings."),
            QStringLiteral("Please configure Obsidian Vault in Mossbridge App Settings."), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.vault) {
            configureVault();
        } else {
            UserPreferences none;
            stores_.config.save(none);
        }
        shell_.statuses.clear();
        const QString id = freshId();
        extension_.sendChunks(QStringLiteral("saveDomHtmlChunk"), id, c.page, 1000);
        extension_.send(command(QStringLiteral("capture_complete"), std::nullopt, id));
        const std::optional<IPCMessage> reply = waitForExportReply(id);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->type, QStringLiteral("error"));
        EXPECT_EQ(reply->error, IPCError {c.reply});
        EXPECT_FALSE(reply->result.has_value());
        EXPECT_TRUE(log_.waitFor(c.line));
        EXPECT_TRUE(waitForStatus(QStringLiteral("Ready")));
        EXPECT_EQ(stores_.chunks.getData(id).has_value(), c.chunksKept);
        EXPECT_TRUE(shell_.notifications.isEmpty()); // the tab is in the front
        stores_.chunks.clear(id);
    }
}

TEST_F(CapturedPageProcessorTest, VaultWithoutWritePermission)
{
    const QString vault = configureVault();
    // Owner bits without write: refused even for the superuser, who passes access(2) anyway.
    ASSERT_EQ(::chmod(QFile::encodeName(vault).constData(), 0500), 0);
    invoke();
    const std::optional<IPCMessage> reply = waitForExportReply(chat_.captureRequestId);
    ::chmod(QFile::encodeName(vault).constData(), 0700);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->type, QStringLiteral("error"));
    ASSERT_TRUE(reply->error);
    EXPECT_TRUE(reply->error->message.contains(QStringLiteral("denied"))) << reply->error->message.toStdString();
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("✅ Export Processed: Trip plan.md")));
    EXPECT_TRUE(log_.contains(QStringLiteral("Export failed: ") + reply->error->message));
    const QList<ExportHistoryItem> history = stores_.history.history();
    ASSERT_FALSE(history.isEmpty());
    EXPECT_FALSE(history.first().success);
    EXPECT_EQ(history.first().vaultName, QStringLiteral("Unknown"));
    EXPECT_EQ(history.first().finalPath, QStringLiteral("Trip plan.md"));
    EXPECT_EQ(history.first().errorMessage, reply->error->message);
    EXPECT_FALSE(QFile::exists(vault + QStringLiteral("/Mossbridge Inbox")));
    EXPECT_TRUE(shell_.notifications.isEmpty());
}

// Runs that finish after their export ended or was replaced, and conversions left waiting for
// their downloads.
class ProcessingLifetimeTest : public SessionLifetimeFixture { };

// The conversion that processing gave up on still finishes once its download fails: what it
// brings is stale and changes nothing, and no note is written for an export reported failed.
TEST_F(ProcessingLifetimeTest, AConversionGivenUpOnWritesNothingWhenItFinishes)
{
    const QString vault = configureVault();
    chat_.holdDownload(kGoneImage);
    invoke(5, 9);
    ASSERT_TRUE(log_.waitFor(QStringLiteral("❌ Export failed: Processing did not finish within 1s.")));
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    const int notifications = static_cast<int>(shell_.notifications.size());
    const int history = static_cast<int>(stores_.history.history().size());

    // The extension closes the tab: the download fails and the conversion goes on.
    failDownload(kGoneImage, QStringLiteral("Tab closed"));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("[INFO] Ignoring stale note Trip plan.md of session ")));
    EXPECT_TRUE(log_.contains(QStringLiteral(", no export is running")));
    ASSERT_TRUE(settle());
    EXPECT_TRUE(notesIn(vault).isEmpty());
    EXPECT_EQ(shell_.notifications.size(), notifications);
    EXPECT_EQ(stores_.history.history().size(), history);
    EXPECT_EQ(extension_.countCommand(QStringLiteral("exportMarkdown")), 1); // the one error reply
}

// An export replaced by a newer one for the same tab finishes after the newer one started:
// it ends nothing, answers nothing and shows nothing, and the newer export goes on to succeed.
TEST_F(ProcessingLifetimeTest, AStaleResultLeavesTheNewerExportAlone)
{
    const QString vault = configureVault();
    chat_.holdDownload(kGoneImage);
    chat_.captureRequestId = QStringLiteral("capture-old");
    invoke(5, 9);
    ASSERT_TRUE(waitForDownloadRequests(kGoneImage, 1));
    const QString oldSession = sessionId();

    chat_.markerAfterQueries = 1000000;
    chat_.captureRequestId = QStringLiteral("capture-new");
    invoke(5, 9);
    const int queries = chat_.markerQueries.load();
    ASSERT_TRUE(waitForMarkerQueries(queries + 2));
    const QString newSession = sessionId();
    ASSERT_NE(newSession, oldSession);

    // The old export's download now fails; its conversion finishes.
    failDownload(kGoneImage, QStringLiteral("HTTP 404"));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("[INFO] Ignoring stale note Trip plan.md of session ") + oldSession
        + QStringLiteral(", current session is ") + newSession));
    ASSERT_TRUE(settle());

    const std::optional<IPCMessage> status = askSessionStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->result->value(QStringLiteral("active")), QStringLiteral("true"));
    EXPECT_EQ(status->result->value(QStringLiteral("status")), QStringLiteral("scrolling"));
    EXPECT_EQ(sessionId(), newSession);
    EXPECT_EQ(shell_.lastStatus(), QStringLiteral("Exporting..."));
    EXPECT_FALSE(waitForExportReply(QStringLiteral("capture-old"), 0s));
    EXPECT_TRUE(shell_.notifications.isEmpty());
    EXPECT_TRUE(stores_.history.history().isEmpty());
    // Its last progress would have shown on the newer export's panel.
    for (const IPCMessage& m : extension_.receivedWithCommand(QStringLiteral("ui_render"))) {
        EXPECT_FALSE(m.request_id == QStringLiteral("capture-old") && m.args->ui->message == QStringLiteral("Exporting... 100%"));
    }

    chat_.answerAllDownloads();
    chat_.markerAfterQueries = 0;
    const std::optional<IPCMessage> reply = waitForExportReply(QStringLiteral("capture-new"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->type, QStringLiteral("response"));
    EXPECT_EQ(notesIn(vault), QStringList {QStringLiteral("Mossbridge Inbox/Trip plan/Trip plan.md")});
}

// The extension goes away while an export waits for its downloads: they fail at once (their
// addresses stay in the note) instead of after the stall, the export ends, and an export from
// another tab right after the reconnect goes through.
TEST_F(ProcessingLifetimeTest, ADisconnectMidDownloadDoesNotHoldUpTheNextExport)
{
    const QString vault = configureVault();
    chat_.holdDownload(kGoneImage);
    invoke(5, 9);
    ASSERT_TRUE(waitForDownloadRequests(kGoneImage, 1));
    extension_.close();
    ASSERT_TRUE(log_.waitFor(QStringLiteral("[CONVERTER] ❌ Download failed for ") + kGoneImage
        + QStringLiteral(": Extension disconnected")));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("✅ Export Processed: Trip plan.md")));
    EXPECT_FALSE(log_.contains(QStringLiteral("stalled")));

    QFile note(vault + QStringLiteral("/Mossbridge Inbox/Trip plan/Trip plan.md"));
    ASSERT_TRUE(note.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(note.readAll()).contains(QStringLiteral("![](") + kGoneImage + QStringLiteral(")")));

    ASSERT_TRUE(extension_.connectTo(server_->listeningPort()));
    chat_.answerAllDownloads();
    expectAnExportToSucceed(7, QStringLiteral("after-reconnect"));
}

// Conversions waiting for their downloads do not take the threads a new export needs: with
// more of them waiting than the pool has threads, the next export still starts at once.
TEST_F(ProcessingLifetimeTest, WaitingConversionsDoNotHoldTheThreadsOfTheNextExport)
{
    configureVault();
    chat_.holdDownload(kGoneImage);
    constexpr int waiting = 9;
    for (int i = 0; i < waiting; ++i) {
        const QString html = QStringLiteral("page-%1").arg(i);
        extension_.sendChunks(QStringLiteral("saveDomHtmlChunk"), html, chat_.page, 700);
        IPCArgs args;
        args.htmlRequestId = html;
        extension_.send(command(QStringLiteral("exportMarkdown"), args, QStringLiteral("export-%1").arg(i)));
    }
    ASSERT_TRUE(waitForDownloadRequests(kGoneImage, waiting));

    invoke(5, 9);
    ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("startKeepAlive")));
    ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("capture_start")));
    for (int i = 0; i < waiting; ++i) {
        EXPECT_FALSE(waitForExportReply(QStringLiteral("export-%1").arg(i), 0s)) << "still waiting: " << i;
    }
}
