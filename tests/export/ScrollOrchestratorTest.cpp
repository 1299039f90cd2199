// The scroll to the start of the chat: its step, its ends and its limits.

#include "ExportFlowFixture.h"

#include "export/ScrollOrchestrator.h"

TEST(ScrollStep, GrowsWithTheStallCountUpToTenTimesTheBase)
{
    struct Case {
        qint64 clientHeight;
        qint64 stallCount;
        qint64 step;
    };
    for (const Case& c : std::vector<Case> {
             {400, 0, 300},    // 140 is below the floor
             {2000, 0, 700},
             {2000, 2, 700},   // the multiplier starts at three stalls
             {2000, 3, 1400},
             {2000, 10, 6300},
             {2000, 11, 7000},
             {2000, 50, 7000},
             {0, 0, 300},
             {857, 0, 300},    // 299.95 truncates to 299, below the floor
             {858, 0, 300},
             {1000, 0, 350},
         }) {
        EXPECT_EQ(ScrollOrchestrator::scrollStep(c.clientHeight, c.stallCount), c.step)
            << "clientHeight " << c.clientHeight << ", stallCount " << c.stallCount;
    }
}

class ScrollOrchestratorTest : public ExportFlowFixture { };

TEST_F(ScrollOrchestratorTest, MarkerAlreadyVisibleScrollsNothing)
{
    configureVault();
    chat_.markerAfterQueries = 0;
    chat_.collapsedCodeBlocks = 0;
    invoke();
    ASSERT_TRUE(waitForExportReply(chat_.captureRequestId));
    const QList<IPCMessage> sent = extension_.received();
    // Only the restoring scrollSet, and no click without collapsed blocks.
    EXPECT_EQ(extension_.countCommand(QStringLiteral("scrollSet")), 1);
    EXPECT_EQ(extension_.countCommand(QStringLiteral("domClick")), 0);
    EXPECT_EQ(chat_.markerQueries.load(), 1);
}

TEST_F(ScrollOrchestratorTest, FailedValidationDisconnectsTheExtension)
{
    configureVault();
    chat_.pageValid = false;
    chat_.invalidMessage = QStringLiteral("Not a chat page");
    invoke();
    ASSERT_TRUE(log_.waitFor(QStringLiteral("❌ Validation Failed: Not a chat page")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !extension_.isConnected(); }));
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    const QList<IPCMessage> sent = extension_.received();
    const qsizetype show = indexOf(sent, isCommand(QStringLiteral("showError")));
    const qsizetype stop = indexOf(sent, isCommand(QStringLiteral("stopKeepAlive")), show);
    const qsizetype abort = indexOf(sent, isCommand(QStringLiteral("abort_export")), stop);
    ASSERT_GE(show, 0);
    ASSERT_GT(stop, show);
    ASSERT_GT(abort, stop); // arrived before the connection was closed
    EXPECT_EQ(sent[show].args->message, QStringLiteral("Not a chat page"));
    EXPECT_EQ(sent[abort].args->message, QStringLiteral("Not a chat page"));
    EXPECT_EQ(indexOf(sent, isCommand(QStringLiteral("scrollGetMetrics"))), -1);
    EXPECT_EQ(ExportSession::wireText(controller_->state().currentExport()->status), QStringLiteral("error"));
}

TEST_F(ScrollOrchestratorTest, EmptyMetricsStopInsteadOfScrollingBlind)
{
    configureVault();
    chat_.emptyMetrics = true;
    invoke();
    ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("abort_export")));
    const IPCMessage abort = extension_.receivedWithCommand(QStringLiteral("abort_export")).first();
    EXPECT_EQ(abort.args->message, QStringLiteral("Could not read the chat's scroll position."));
    EXPECT_FALSE(abort.args->value.has_value()); // no start position to restore to
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    EXPECT_EQ(extension_.countCommand(QStringLiteral("scrollSet")), 0);
    EXPECT_EQ(extension_.countCommand(QStringLiteral("domQuery")), 0);
    EXPECT_FALSE(controller_->state().currentExport().has_value());
}

// The pass limit counts only while the tab is in the background.
class ScrollLimitTest : public ExportFlowFixture {
public:
    ExportTimings flowTimings() override
    {
        ExportTimings timings = fastTimings();
        timings.passLimit = 4;
        return timings;
    }
};

TEST_F(ScrollLimitTest, BackgroundTabTimesOutForegroundTabDoesNot)
{
    configureVault();
    chat_.markerAfterQueries = 12;
    struct Case {
        const char* name;
        bool background;
    };
    for (const Case& c : {Case {"front", false}, Case {"background", true}}) {
        SCOPED_TRACE(c.name);
        extension_.clearReceived();
        chat_.markerQueries = 0;
        shell_.notifications.clear();
        invoke();
        if (c.background) {
            ASSERT_TRUE(waitForMarkerQueries(1));
            IPCArgs background;
            background.isBackground = true;
            extension_.send(command(QStringLiteral("update_tab_status"), background));
            ASSERT_TRUE(log_.waitFor(QStringLiteral("Timeout: Start of chat not reached within limit.")));
            ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("abort_export")));
            const IPCMessage abort = extension_.receivedWithCommand(QStringLiteral("abort_export")).first();
            EXPECT_EQ(abort.args->message, QStringLiteral("Timeout: Start of chat not reached within limit."));
            ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
            // The page is put back and nothing partial is captured.
            const QList<IPCMessage> sets = extension_.receivedWithCommand(QStringLiteral("scrollSet"));
            EXPECT_EQ(sets.last().args->value, 5000.0);
            EXPECT_EQ(extension_.countCommand(QStringLiteral("capture_start")), 0);
            EXPECT_LT(chat_.markerQueries.load(), 12);
            ASSERT_EQ(shell_.notifications.size(), 1);
            EXPECT_EQ(shell_.notifications[0].body, QStringLiteral("Export failed: Timeout: Start of chat not reached within limit."));
            EXPECT_FALSE(controller_->state().currentExport().has_value());
        } else {
            ASSERT_TRUE(waitForExportReply(chat_.captureRequestId));
            EXPECT_EQ(chat_.markerQueries.load(), 13);
            EXPECT_FALSE(log_.contains(QStringLiteral("Timeout: Start of chat")));
        }
    }
}

// The extension going away while the tab is in the front must not leave the loop spinning.
class VanishingExtensionTest : public ExportFlowFixture {
public:
    ExportTimings flowTimings() override
    {
        ExportTimings timings = fastTimings();
        timings.requestTimeout = std::chrono::milliseconds(100);
        timings.disconnectGrace = std::chrono::milliseconds(1500);
        return timings;
    }

    // An export scrolling a long chat whose extension then goes away.
    void scrollThenLoseTheExtension()
    {
        configureVault();
        chat_.markerAfterQueries = 1000000;
        invoke();
        ASSERT_TRUE(waitForMarkerQueries(2));
        extension_.close();
        ASSERT_TRUE(log_.waitFor(QStringLiteral("WebSocket Client disconnected")));
    }
};

TEST_F(VanishingExtensionTest, ExportEndsAfterTheGrace)
{
    ASSERT_NO_FATAL_FAILURE(scrollThenLoseTheExtension());
    ASSERT_TRUE(log_.waitFor(QStringLiteral("Export aborted."), std::chrono::seconds(10)));
    EXPECT_TRUE(log_.contains(QStringLiteral("No extension connected")));
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    EXPECT_FALSE(controller_->state().currentExport().has_value());
}

TEST_F(VanishingExtensionTest, ReconnectWithinTheGraceGoesOn)
{
    ASSERT_NO_FATAL_FAILURE(scrollThenLoseTheExtension());
    testsupport::processEventsFor(std::chrono::milliseconds(300));
    chat_.markerAfterQueries = 0;
    ASSERT_TRUE(extension_.connectTo(server_->listeningPort()));
    ASSERT_TRUE(waitForExportReply(chat_.captureRequestId));
    EXPECT_FALSE(log_.contains(QStringLiteral("No extension connected")));
}
