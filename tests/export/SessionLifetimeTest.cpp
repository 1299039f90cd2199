// No export keeps the session forever, an export's outcome ends only its own session, and an
// extension that goes away mid-export neither stalls the next export nor holds the threads it
// needs. Everything over the real socket, with the scripted chat as the extension.

#include "ExportFlowFixture.h"

#include "link/ChunkAssembler.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <functional>

using namespace std::chrono_literals;

namespace {

const QString kGoneImage = QStringLiteral("https://poecdn.net/c/gone.png");

IPCMessage pageChunk(const QString& requestId, const QByteArray& page, qint64 index, qint64 total)
{
    const qsizetype size = (page.size() + total - 1) / total;
    IPCArgs args;
    args.chunkBase64 = QString::fromLatin1(page.mid(index * size, size).toBase64());
    args.chunkIndex = index;
    args.totalChunks = total;
    return FakeExtension::message(QStringLiteral("request"), QStringLiteral("saveDomHtmlChunk"), requestId, args);
}

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

class SessionLifetimeTest : public ExportFlowFixture {
public:
    ExportTimings flowTimings() override
    {
        ExportTimings timings = fastTimings();
        timings.captureStartLimit = 1000ms;
        timings.captureGrace = 200ms;
        timings.processingLimit = 1500ms;
        timings.sessionCheckInterval = 50ms;
        timings.disconnectGrace = 1000ms;
        // A stall far longer than any of the limits: waiting for it would show.
        timings.converterWaits = ExportTimings::ConverterWaits {120s, 60s, 10ms};
        return timings;
    }

    void SetUp() override
    {
        ChunkAssembler::shared().setIdleLimit(1000ms);
        ExportFlowFixture::SetUp();
        chat_.markerAfterQueries = 0;
        chat_.collapsedCodeBlocks = 0;
    }

    void TearDown() override
    {
        ExportFlowFixture::TearDown();
        ChunkAssembler::shared().setIdleLimit(ChunkAssembler::defaultIdleLimit);
    }

    bool waitForDownloadRequests(const QString& url, int count)
    {
        return extension_.waitFor([&](const IPCMessage&) {
            int asked = 0;
            for (const IPCMessage& m : extension_.receivedWithCommand(QStringLiteral("download"))) {
                asked += m.args && m.args->url == url ? 1 : 0;
            }
            return asked >= count;
        });
    }

    // The extension reports that a held download failed.
    void failDownload(const QString& url, const QString& message)
    {
        IPCArgs failed;
        failed.url = url;
        failed.message = message;
        extension_.send(command(QStringLiteral("save_file_error"), failed));
    }

    // An ordinary export from start to success.
    void expectAnExportToSucceed(qint64 tab, const QString& captureId)
    {
        chat_.captureOnRequest = true;
        chat_.captureRequestId = captureId;
        invoke(tab, 9);
        const std::optional<IPCMessage> reply = waitForExportReply(captureId);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->type, QStringLiteral("response"));
    }

    QString sessionId() const
    {
        const std::optional<ExportSession> session = controller_->currentExport();
        return session ? session->sessionId : QString();
    }
};

// Each way an export can be left waiting for something that will not come ends the export as
// failed: an error reply to the message that waits, a failed history entry with the reason,
// the failure notification, and the session ends, so the next export works at once.
struct StuckCase {
    const char* name;
    const char* id;
    // Brings the started export (tab 5, window 9) into its stuck state.
    std::function<void(SessionLifetimeTest& test, const QString& captureId)> strand;
    QString reason;
    bool repliesToTheCapture; // else to the "invoke_export"
    QString title;
    bool extensionGone;
};

void PrintTo(const StuckCase& c, std::ostream* os)
{
    *os << c.name;
}

class StuckExport : public SessionLifetimeTest, public testing::WithParamInterface<StuckCase> { };

TEST_P(StuckExport, EndsAsAFailureAndTheNextExportWorks)
{
    const StuckCase& c = GetParam();
    configureVault();
    const QString invokeId = QStringLiteral("invoke-") + freshId();
    const QString captureId = QStringLiteral("capture-") + freshId();
    chat_.captureRequestId = captureId;
    chat_.captureOnRequest = false;
    invoke(5, 9, invokeId);
    ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("capture_start")));
    ASSERT_NO_FATAL_FAILURE(c.strand(*this, captureId));

    ASSERT_TRUE(log_.waitFor(QStringLiteral("❌ Export failed: ") + c.reason));
    if (!c.extensionGone) {
        const std::optional<IPCMessage> reply = waitForExportReply(c.repliesToTheCapture ? captureId : invokeId);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->type, QStringLiteral("error"));
        EXPECT_EQ(reply->error, IPCError {c.reason});
    }
    const QList<ExportHistoryItem> history = ExportHistoryManager::shared().history();
    ASSERT_FALSE(history.isEmpty());
    EXPECT_FALSE(history.first().success);
    EXPECT_EQ(history.first().title, c.title);
    EXPECT_EQ(history.first().errorMessage, c.reason);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !shell_.notifications.isEmpty(); }));
    EXPECT_EQ(shell_.notifications.last().title, QStringLiteral("Mossbridge: \"") + c.title + QStringLiteral("\""));
    EXPECT_EQ(shell_.notifications.last().body, QStringLiteral("Export failed: ") + c.reason);
    EXPECT_EQ(shell_.notifications.last().userInfo,
        (QVariantMap {{QStringLiteral("focusTabId"), QStringLiteral("5")}, {QStringLiteral("focusWindowId"), QStringLiteral("9")}}));
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    EXPECT_FALSE(controller_->currentExport().has_value());

    if (c.extensionGone) {
        ASSERT_TRUE(extension_.connectTo(server_->listeningPort()));
    }
    chat_.answerAllDownloads();
    // Another tab: a session left behind would refuse it.
    expectAnExportToSucceed(7, QStringLiteral("next-") + freshId());
}

const StuckCase stuckCases[] = {
    {"chunks 0 and 2 of 3, then capture_complete", "IncompleteCapture",
        [](SessionLifetimeTest& t, const QString& captureId) {
            t.extension_.send(pageChunk(captureId, t.chat_.page, 0, 3));
            t.extension_.send(pageChunk(captureId, t.chat_.page, 2, 3));
            t.extension_.send(FakeExtension::message(QStringLiteral("request"), QStringLiteral("capture_complete"), captureId));
            ASSERT_TRUE(t.log_.waitFor(QStringLiteral("[ERR] capture_complete called but data incomplete for RID: ") + captureId));
        },
        QStringLiteral("Capture incomplete: chunks of the page are missing."), true, QStringLiteral("Current Chat"), false},
    {"chunks stop coming until the chunk store drops them", "AbandonedCapture",
        [](SessionLifetimeTest& t, const QString& captureId) { t.extension_.send(pageChunk(captureId, t.chat_.page, 0, 3)); },
        QStringLiteral("Capture incomplete: no page data for 1s."), true, QStringLiteral("Current Chat"), false},
    {"no page data at all after capture_start", "NoCapture", [](SessionLifetimeTest&, const QString&) {},
        QStringLiteral("Capture not started: no page data for 1s."), false, QStringLiteral("Current Chat"), false},
    {"the extension goes away during the capture", "ExtensionGone",
        [](SessionLifetimeTest& t, const QString&) { t.extension_.close(); },
        QStringLiteral("Capture stopped: no extension connected for 1s."), false, QStringLiteral("Current Chat"), true},
    {"processing waits on a download that never comes", "EndlessProcessing",
        [](SessionLifetimeTest& t, const QString& captureId) {
            t.chat_.holdDownload(kGoneImage);
            t.extension_.sendChunks(QStringLiteral("saveDomHtmlChunk"), captureId, t.chat_.page, 700);
            t.extension_.send(FakeExtension::message(QStringLiteral("request"), QStringLiteral("capture_complete"), captureId));
        },
        QStringLiteral("Processing did not finish within 1s."), true, QStringLiteral("Trip plan"), false},
};

INSTANTIATE_TEST_SUITE_P(Cases, StuckExport, testing::ValuesIn(stuckCases),
    [](const testing::TestParamInfo<StuckCase>& info) { return std::string(info.param.id); });

// The conversion that processing gave up on still finishes once its download fails: what it
// brings is stale and changes nothing, and no note is written for an export reported failed.
TEST_F(SessionLifetimeTest, AConversionGivenUpOnWritesNothingWhenItFinishes)
{
    const QString vault = configureVault();
    chat_.holdDownload(kGoneImage);
    invoke(5, 9);
    ASSERT_TRUE(log_.waitFor(QStringLiteral("❌ Export failed: Processing did not finish within 1s.")));
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    const int notifications = static_cast<int>(shell_.notifications.size());
    const int history = static_cast<int>(ExportHistoryManager::shared().history().size());

    // The extension closes the tab: the download fails and the conversion goes on.
    failDownload(kGoneImage, QStringLiteral("Tab closed"));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("[INFO] Ignoring stale note Trip plan.md of session ")));
    EXPECT_TRUE(log_.contains(QStringLiteral(", no export is running")));
    ASSERT_TRUE(settle());
    EXPECT_TRUE(notesIn(vault).isEmpty());
    EXPECT_EQ(shell_.notifications.size(), notifications);
    EXPECT_EQ(ExportHistoryManager::shared().history().size(), history);
    EXPECT_EQ(extension_.countCommand(QStringLiteral("exportMarkdown")), 1); // the one error reply
}

// An export replaced by a newer one for the same tab finishes after the newer one started:
// it ends nothing, answers nothing and shows nothing, and the newer export goes on to succeed.
TEST_F(SessionLifetimeTest, AStaleResultLeavesTheNewerExportAlone)
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
    EXPECT_TRUE(ExportHistoryManager::shared().history().isEmpty());
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
TEST_F(SessionLifetimeTest, ADisconnectMidDownloadDoesNotHoldUpTheNextExport)
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
TEST_F(SessionLifetimeTest, WaitingConversionsDoNotHoldTheThreadsOfTheNextExport)
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
