// No export keeps the session forever: each way an export can be left waiting ends it as a
// failure, and the next export works. Everything over the real socket, with the scripted chat
// as the extension.

#include "SessionLifetimeFixture.h"

#include <functional>

namespace {

IPCMessage pageChunk(const QString& requestId, const QByteArray& page, qint64 index, qint64 total)
{
    const qsizetype size = (page.size() + total - 1) / total;
    IPCArgs args;
    args.chunkBase64 = QString::fromLatin1(page.mid(index * size, size).toBase64());
    args.chunkIndex = index;
    args.totalChunks = total;
    return FakeExtension::message(QStringLiteral("request"), QStringLiteral("saveDomHtmlChunk"), requestId, args);
}

} // namespace

// Each way an export can be left waiting for something that will not come ends the export as
// failed: an error reply to the message that waits, a failed history entry with the reason,
// the failure notification, and the session ends, so the next export works at once.
struct StuckCase {
    const char* name;
    const char* id;
    // Brings the started export (tab 5, window 9) into its stuck state.
    std::function<void(SessionLifetimeFixture& test, const QString& captureId)> strand;
    QString reason;
    bool repliesToTheCapture; // else to the "invoke_export"
    QString title;
    bool extensionGone;
};

void PrintTo(const StuckCase& c, std::ostream* os)
{
    *os << c.name;
}

class StuckExport : public SessionLifetimeFixture, public testing::WithParamInterface<StuckCase> { };

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
    const QList<ExportHistoryItem> history = stores_.history.history();
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
    EXPECT_FALSE(controller_->state().currentExport().has_value());

    if (c.extensionGone) {
        ASSERT_TRUE(extension_.connectTo(server_->listeningPort()));
    }
    chat_.answerAllDownloads();
    // Another tab: a session left behind would refuse it.
    expectAnExportToSucceed(7, QStringLiteral("next-") + freshId());
}

const StuckCase stuckCases[] = {
    {"chunks 0 and 2 of 3, then capture_complete", "IncompleteCapture",
        [](SessionLifetimeFixture& t, const QString& captureId) {
            t.extension_.send(pageChunk(captureId, t.chat_.page, 0, 3));
            t.extension_.send(pageChunk(captureId, t.chat_.page, 2, 3));
            t.extension_.send(FakeExtension::message(QStringLiteral("request"), QStringLiteral("capture_complete"), captureId));
            ASSERT_TRUE(t.log_.waitFor(QStringLiteral("[ERR] capture_complete called but data incomplete for RID: ") + captureId));
        },
        QStringLiteral("Capture incomplete: chunks of the page are missing."), true, QStringLiteral("Current Chat"), false},
    {"chunks stop coming until the chunk store drops them", "AbandonedCapture",
        [](SessionLifetimeFixture& t, const QString& captureId) { t.extension_.send(pageChunk(captureId, t.chat_.page, 0, 3)); },
        QStringLiteral("Capture incomplete: no page data for 1s."), true, QStringLiteral("Current Chat"), false},
    {"no page data at all after capture_start", "NoCapture", [](SessionLifetimeFixture&, const QString&) {},
        QStringLiteral("Capture not started: no page data for 1s."), false, QStringLiteral("Current Chat"), false},
    {"the extension goes away during the capture", "ExtensionGone",
        [](SessionLifetimeFixture& t, const QString&) { t.extension_.close(); },
        QStringLiteral("Capture stopped: no extension connected for 1s."), false, QStringLiteral("Current Chat"), true},
    {"processing waits on a download that never comes", "EndlessProcessing",
        [](SessionLifetimeFixture& t, const QString& captureId) {
            t.chat_.holdDownload(kGoneImage);
            t.extension_.sendChunks(QStringLiteral("saveDomHtmlChunk"), captureId, t.chat_.page, 700);
            t.extension_.send(FakeExtension::message(QStringLiteral("request"), QStringLiteral("capture_complete"), captureId));
        },
        QStringLiteral("Processing did not finish within 1s."), true, QStringLiteral("Trip plan"), false},
};

INSTANTIATE_TEST_SUITE_P(Cases, StuckExport, testing::ValuesIn(stuckCases),
    [](const testing::TestParamInfo<StuckCase>& info) { return std::string(info.param.id); });
