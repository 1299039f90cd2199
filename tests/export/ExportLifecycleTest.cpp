// Export start and abort: the version check, one export at a time, the vault check, and the
// two aborts.

#include "ExportFlowFixture.h"

#include <algorithm>

class ExportLifecycleTest : public ExportFlowFixture { };

TEST_F(ExportLifecycleTest, WithoutVaultNothingScrolls)
{
    invoke();
    ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("abort_export")));
    const IPCMessage abort = extension_.receivedWithCommand(QStringLiteral("abort_export")).first();
    EXPECT_EQ(abort.type, QStringLiteral("command"));
    EXPECT_EQ(abort.args->message, QStringLiteral("Please configure Obsidian Vault in Mossbridge App Settings."));
    EXPECT_EQ(abort.args->tabId, 5);
    EXPECT_EQ(abort.args->windowId, 9);
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    EXPECT_EQ(shell_.onboarding, QList<OnboardingMode> {OnboardingMode::onboarding});
    testsupport::processEventsFor(std::chrono::milliseconds(100));
    EXPECT_EQ(extension_.countCommand(QStringLiteral("startKeepAlive")), 0);
    // The refused export leaves no session behind to block other tabs.
    const std::optional<IPCMessage> status = askSessionStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->result->value(QStringLiteral("active")), QStringLiteral("false"));
}

TEST_F(ExportLifecycleTest, ExtensionVersionCheck)
{
    struct Case {
        QString version;
        bool refused;
    };
    for (const Case& c : std::vector<Case> {{QStringLiteral("0.9.9"), true}, {QStringLiteral("0.9.10"), true},
             {QStringLiteral("0.10.0"), false}, {QStringLiteral("0.12.3"), false}, {QStringLiteral("1.0"), false}}) {
        SCOPED_TRACE(c.version.toStdString());
        extension_.clearReceived();
        IPCArgs hello;
        hello.version = c.version;
        extension_.send(command(QStringLiteral("handshake"), hello));
        const QString id = freshId();
        extension_.send(command(QStringLiteral("invoke_export"), tabArgs(5, 9), id));
        if (c.refused) {
            ASSERT_TRUE(extension_.waitFor([&](const IPCMessage& m) { return isExportReply(m, id); }));
            const IPCMessage reply = extension_.received()[indexOf(extension_.received(),
                [&](const IPCMessage& m) { return isExportReply(m, id); })];
            EXPECT_EQ(reply.type, QStringLiteral("error"));
            EXPECT_EQ(reply.error->message, QStringLiteral("Chrome Extension version ") + c.version
                    + QStringLiteral(" is too old. Please update to 0.10.0+ via Chrome Web Store."));
            ASSERT_TRUE(settle());
            EXPECT_EQ(extension_.countCommand(QStringLiteral("abort_export")), 0);
        } else {
            // Goes on to the vault check (none here).
            ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("abort_export")));
            EXPECT_FALSE(extension_.waitFor([&](const IPCMessage& m) { return isExportReply(m, id); },
                std::chrono::milliseconds(100)));
        }
    }
}

TEST_F(ExportLifecycleTest, AnotherTabsRunningExportIsNotDisturbed)
{
    configureVault();
    chat_.markerAfterQueries = 1000000;
    invoke(5, 9);
    ASSERT_TRUE(waitForMarkerQueries(2));
    const QString id = freshId();
    extension_.send(command(QStringLiteral("invoke_export"), tabArgs(7, 11), id));
    const std::optional<IPCMessage> reply = waitForExportReply(id);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->error, IPCError {QStringLiteral("Export already in progress in another tab")});
    // The refusal's panel goes to the tab that asked; tab 5 keeps scrolling.
    ASSERT_TRUE(extension_.waitFor([&](const IPCMessage& m) {
        return m.request_id == id && m.command == QStringLiteral("ui_render");
    }));
    // Tab 5's scroll progress keeps arriving too: pick the refusal's own panel.
    const QList<IPCMessage> panels = extension_.receivedWithCommand(QStringLiteral("ui_render"));
    const auto panel = std::find_if(panels.begin(), panels.end(),
        [&](const IPCMessage& m) { return m.request_id == id; });
    ASSERT_NE(panel, panels.end());
    ASSERT_TRUE(panel->args);
    EXPECT_EQ(panel->args->tabId, 7);
    const std::optional<IPCMessage> status = askSessionStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->result->value(QStringLiteral("active")), QStringLiteral("true"));
    EXPECT_EQ(status->result->value(QStringLiteral("tabId")), QStringLiteral("5"));
    EXPECT_EQ(status->result->value(QStringLiteral("status")), QStringLiteral("scrolling"));
    const int queries = chat_.markerQueries.load();
    EXPECT_TRUE(waitForMarkerQueries(queries + 2));

    // A finished (failed) session does not block: tab 7 then replaces it.
    extension_.send(command(QStringLiteral("request_abort"), tabArgs(5, 9)));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("Export aborted.")));
}

TEST_F(ExportLifecycleTest, RequestAbortMidScroll)
{
    configureVault();
    chat_.markerAfterQueries = 1000000;
    invoke();
    ASSERT_TRUE(waitForMarkerQueries(2));
    IPCArgs args = tabArgs(5, 9);
    args.message = QStringLiteral("User pressed stop");
    extension_.send(command(QStringLiteral("request_abort"), args));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("Export aborted.")));
    EXPECT_TRUE(log_.contains(QStringLiteral("Request Abort received: User pressed stop")));
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    // The extension learns where to put the page back.
    const QList<IPCMessage> aborts = extension_.receivedWithCommand(QStringLiteral("abort_export"));
    ASSERT_EQ(aborts.size(), 1);
    EXPECT_EQ(aborts[0].args->message, QStringLiteral("User pressed stop"));
    EXPECT_EQ(aborts[0].args->value, 5000.0);
    EXPECT_EQ(aborts[0].args->windowX, 3);
    EXPECT_EQ(aborts[0].args->windowY, -4);
    const int queries = chat_.markerQueries.load();
    testsupport::processEventsFor(std::chrono::milliseconds(200));
    EXPECT_EQ(chat_.markerQueries.load(), queries);
    EXPECT_EQ(extension_.countCommand(QStringLiteral("capture_start")), 0);
    const std::optional<IPCMessage> status = askSessionStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->result->value(QStringLiteral("active")), QStringLiteral("false"));
}

TEST_F(ExportLifecycleTest, AbortExportFromTheExtensionIgnoresStaleTabs)
{
    configureVault();
    chat_.markerAfterQueries = 1000000;
    invoke(5, 9);
    ASSERT_TRUE(waitForMarkerQueries(2));

    IPCArgs stale = tabArgs(99, 9);
    extension_.send(command(QStringLiteral("abort_export"), stale));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("[INFO] Ignoring stale abort_export for tab 99, current export is on tab 5")));
    const int queries = chat_.markerQueries.load();
    ASSERT_TRUE(waitForMarkerQueries(queries + 2)); // still scrolling

    IPCArgs background;
    background.isBackground = true;
    extension_.send(command(QStringLiteral("update_tab_status"), background));
    IPCArgs current = tabArgs(5, 9);
    current.message = QStringLiteral("Tab closed");
    extension_.send(command(QStringLiteral("abort_export"), current));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("🛑 Export aborted by extension: Tab closed")));
    ASSERT_TRUE(log_.waitFor(QStringLiteral("Export aborted.")));
    EXPECT_TRUE(log_.contains(QStringLiteral("[DEBUG] abort_export received: tabId=5")));
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    // In the background the user hears of it, with the tab to focus.
    ASSERT_EQ(shell_.notifications.size(), 1);
    EXPECT_EQ(shell_.notifications[0].title, QStringLiteral("Mossbridge: \"Current Chat\""));
    EXPECT_EQ(shell_.notifications[0].body, QStringLiteral("Export failed: Tab closed"));
    EXPECT_EQ(shell_.notifications[0].userInfo,
        (QVariantMap {{QStringLiteral("focusTabId"), QStringLiteral("5")}, {QStringLiteral("focusWindowId"), QStringLiteral("9")}}));
    EXPECT_EQ(extension_.countCommand(QStringLiteral("capture_start")), 0);
}
