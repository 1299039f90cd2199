#include "ExportFlowFixture.h"

#include "link/ChunkAssembler.h"

#include <QFile>
#include <QTimer>

#include <sys/stat.h>

#include <algorithm>

namespace {

const QString kStartSelector = QStringLiteral(
    R"([class*="BotInfoCard_sectionContainer"], [class*="ChatInviteCard_inviteCard"])");
const QString kCollapsedButton = QStringLiteral(
    R"([class*="MarkdownCodeBlock_collapsible__"][data-collapsed="true"] button)");

qsizetype indexOf(const QList<IPCMessage>& messages, const std::function<bool(const IPCMessage&)>& match,
    qsizetype from = 0)
{
    for (qsizetype i = from; i < messages.size(); ++i) {
        if (match(messages[i])) {
            return i;
        }
    }
    return -1;
}

std::function<bool(const IPCMessage&)> isCommand(const QString& command)
{
    return [command](const IPCMessage& m) { return m.command == command; };
}

} // namespace

class ExportFlowTest : public ExportFlowFixture { };

TEST_F(ExportFlowTest, WholeExportEndToEnd)
{
    const QString vault = configureVault();
    IPCArgs tab;
    tab.message = QStringLiteral("Active tab URL");
    tab.url = QStringLiteral("https://poe.com/chat/trip");
    extension_.send(command(QStringLiteral("log"), tab));
    invoke();

    const std::optional<IPCMessage> reply = waitForExportReply(chat_.captureRequestId);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->type, QStringLiteral("response"));
    EXPECT_EQ(reply->source, QStringLiteral("app"));
    EXPECT_EQ(reply->result, (QMap<QString, QString> {{QStringLiteral("status"), QStringLiteral("success")},
                                 {QStringLiteral("message"), QStringLiteral("Saved to My Vault")},
                                 {QStringLiteral("showOpenButton"), QStringLiteral("true")}}));
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    EXPECT_TRUE(shell_.statuses.contains(QStringLiteral("Exporting...")));

    // The scroll: requests in order, each carrying the export's tab.
    const QList<IPCMessage> sent = extension_.received();
    const qsizetype keepAlive = indexOf(sent, isCommand(QStringLiteral("startKeepAlive")));
    const qsizetype validate = indexOf(sent, isCommand(QStringLiteral("validatePage")), keepAlive);
    const qsizetype firstQuery = indexOf(sent, isCommand(QStringLiteral("domQuery")), validate);
    const qsizetype stop = indexOf(sent, isCommand(QStringLiteral("stopKeepAlive")), firstQuery);
    const qsizetype restore = indexOf(sent, isCommand(QStringLiteral("scrollSet")), stop);
    const qsizetype window = indexOf(sent, isCommand(QStringLiteral("windowSet")), restore);
    const qsizetype click = indexOf(sent, isCommand(QStringLiteral("domClick")), window);
    const qsizetype capture = indexOf(sent, isCommand(QStringLiteral("capture_start")), click);
    ASSERT_GE(keepAlive, 0);
    ASSERT_GT(validate, keepAlive);
    ASSERT_GT(firstQuery, validate);
    ASSERT_GT(stop, firstQuery);
    ASSERT_GT(restore, stop);
    ASSERT_GT(window, restore);
    ASSERT_GT(click, window);
    ASSERT_GT(capture, click);
    EXPECT_EQ(sent[firstQuery].args->selector, kStartSelector);
    EXPECT_EQ(sent[firstQuery].args->session, (SessionContext {5, 9, QStringLiteral("scrolling")}));
    EXPECT_EQ(sent[restore].args->value, 5000.0);
    EXPECT_EQ(sent[window].args->windowX, 3);
    EXPECT_EQ(sent[window].args->windowY, -4);
    EXPECT_EQ(sent[click].args->selector, kCollapsedButton);
    EXPECT_EQ(chat_.markerQueries.load(), 4);

    // Each scroll pass moved up by 35 % of the 2000 px client height.
    QList<double> steps;
    for (qsizetype i = firstQuery; i < stop; ++i) {
        if (sent[i].command == QStringLiteral("scrollSet")) {
            steps.append(*sent[i].args->value);
        }
    }
    EXPECT_EQ(steps, (QList<double> {4300.0, 3600.0, 2900.0}));
    EXPECT_TRUE(log_.contains(QStringLiteral("Found Start of Chat marker.")));
    EXPECT_TRUE(log_.contains(QStringLiteral("Collapsed code blocks found: 2")));
    EXPECT_TRUE(log_.contains(QStringLiteral("Requested capture start (App Driven).")));

    // Three downloads asked for, one failed; progress went to the capture's id.
    EXPECT_EQ(extension_.countCommand(QStringLiteral("download")), 3);
    QStringList progress;
    for (const IPCMessage& m : extension_.receivedWithCommand(QStringLiteral("ui_render"))) {
        if (m.request_id == chat_.captureRequestId && m.args->ui->type == QStringLiteral("progress")) {
            progress.append(*m.args->ui->message);
        }
    }
    EXPECT_EQ(progress, (QStringList {QStringLiteral("Exporting... 33%"), QStringLiteral("Exporting... 66%"),
                            QStringLiteral("Exporting... 100%")}));
    EXPECT_TRUE(log_.contains(QStringLiteral("[ERR] Asset download failed: https://poecdn.net/c/gone.png - HTTP 403")));

    // The panel: "Export complete" as update_ui then ui_render, addressed to the export's tab.
    QList<IPCMessage> panels;
    for (const IPCMessage& m : extension_.received()) {
        if (m.request_id == chat_.captureRequestId && m.args && m.args->ui && m.args->ui->type == QStringLiteral("success")) {
            panels.append(m);
        }
    }
    ASSERT_EQ(panels.size(), 2);
    EXPECT_EQ(panels[0].command, QStringLiteral("update_ui"));
    EXPECT_EQ(panels[1].command, QStringLiteral("ui_render"));
    UICommand expectedPanel;
    expectedPanel.type = QStringLiteral("success");
    expectedPanel.message = QStringLiteral("Export complete");
    expectedPanel.autoHideMs = 3000;
    expectedPanel.showOpenButton = true;
    EXPECT_EQ(panels[0].args->ui, expectedPanel);
    EXPECT_EQ(panels[0].args->tabId, 5);
    EXPECT_EQ(panels[0].args->session->windowId, 9);

    // Note and assets in the vault.
    const QString folder = vault + QStringLiteral("/Mossbridge Inbox/Trip plan");
    QFile note(folder + QStringLiteral("/Trip plan.md"));
    ASSERT_TRUE(note.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(note.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("Source: https://poe.com/chat/trip")));
    EXPECT_TRUE(text.contains(QStringLiteral("Lisbon é lindo.")));
    QFile one(folder + QStringLiteral("/assets/one.png"));
    ASSERT_TRUE(one.open(QIODevice::ReadOnly));
    EXPECT_EQ(one.readAll(), chat_.downloads.value(QStringLiteral("https://poe.com/a/one.png").replace(QStringLiteral("poe.com"), QStringLiteral("poecdn.net"))));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/assets/two.png")));
    EXPECT_FALSE(QFile::exists(folder + QStringLiteral("/assets/gone.png")));

    // History and notification.
    const QList<ExportHistoryItem> history = ExportHistoryManager::shared().history();
    ASSERT_FALSE(history.isEmpty());
    EXPECT_TRUE(history.first().success);
    EXPECT_EQ(history.first().title, QStringLiteral("Trip plan"));
    EXPECT_EQ(history.first().finalPath, QStringLiteral("Mossbridge Inbox/Trip plan/Trip plan.md"));
    EXPECT_EQ(history.first().vaultName, QStringLiteral("My Vault"));
    EXPECT_FALSE(history.first().errorMessage.has_value());
    ASSERT_EQ(shell_.notifications.size(), 1);
    EXPECT_EQ(shell_.notifications[0].title, QStringLiteral("Mossbridge: \"Trip plan\""));
    EXPECT_EQ(shell_.notifications[0].body, QStringLiteral("Click to open 'Trip plan' in Obsidian."));
    EXPECT_EQ(shell_.notifications[0].userInfo.value(QStringLiteral("obsidianUrl")).toString(),
        QStringLiteral("obsidian://open?vault=My%20Vault&file=Mossbridge%20Inbox/Trip%20plan/Trip%20plan.md"));
    EXPECT_EQ(shell_.notifications[0].userInfo.value(QStringLiteral("vaultName")).toString(), QStringLiteral("My Vault"));

    // The session is over; the page's chunks are gone; "open_result" opens the note.
    const std::optional<IPCMessage> status = askSessionStatus();
    ASSERT_TRUE(status);
    EXPECT_EQ(status->result, (QMap<QString, QString> {{QStringLiteral("active"), QStringLiteral("false")}}));
    EXPECT_FALSE(ChunkAssembler::shared().getData(chat_.captureRequestId).has_value());
    extension_.send(command(QStringLiteral("open_result")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !shell_.opened.isEmpty(); }));
    EXPECT_EQ(shell_.opened[0].vaultName, QStringLiteral("My Vault"));
    EXPECT_EQ(shell_.opened[0].filePath, QStringLiteral("Mossbridge Inbox/Trip plan/Trip plan.md"));
    EXPECT_TRUE(log_.contains(QStringLiteral("✅ Export Processed: Trip plan.md")));
}

TEST_F(ExportFlowTest, MarkerAlreadyVisibleScrollsNothing)
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

TEST_F(ExportFlowTest, ExportMarkdownNamesAndRepliesToItsOwnId)
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
        EXPECT_FALSE(ChunkAssembler::shared().getData(html).has_value());
    }
}

TEST_F(ExportFlowTest, CapturedPageFailures)
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
            ConfigManager::shared().save(none);
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
        EXPECT_EQ(ChunkAssembler::shared().getData(id).has_value(), c.chunksKept);
        EXPECT_TRUE(shell_.notifications.isEmpty()); // the tab is in the front
        ChunkAssembler::shared().clear(id);
    }
}

TEST_F(ExportFlowTest, WithoutVaultNothingScrolls)
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

TEST_F(ExportFlowTest, ExtensionVersionCheck)
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

TEST_F(ExportFlowTest, AnotherTabsRunningExportIsNotDisturbed)
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

TEST_F(ExportFlowTest, RequestAbortMidScroll)
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

TEST_F(ExportFlowTest, AbortExportFromTheExtensionIgnoresStaleTabs)
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

TEST_F(ExportFlowTest, FailedValidationDisconnectsTheExtension)
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
    EXPECT_EQ(controller_->currentExport()->status, QStringLiteral("error"));
}

TEST_F(ExportFlowTest, EmptyMetricsStopInsteadOfScrollingBlind)
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
    EXPECT_FALSE(controller_->currentExport().has_value());
}

TEST_F(ExportFlowTest, VaultWithoutWritePermission)
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
    const QList<ExportHistoryItem> history = ExportHistoryManager::shared().history();
    ASSERT_FALSE(history.isEmpty());
    EXPECT_FALSE(history.first().success);
    EXPECT_EQ(history.first().vaultName, QStringLiteral("Unknown"));
    EXPECT_EQ(history.first().finalPath, QStringLiteral("Trip plan.md"));
    EXPECT_EQ(history.first().errorMessage, reply->error->message);
    EXPECT_FALSE(QFile::exists(vault + QStringLiteral("/Mossbridge Inbox")));
    EXPECT_TRUE(shell_.notifications.isEmpty());
}

// The pass limit counts only while the tab is in the background.
class ScrollLimitTest : public ExportFlowTest {
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
            EXPECT_FALSE(controller_->currentExport().has_value());
        } else {
            ASSERT_TRUE(waitForExportReply(chat_.captureRequestId));
            EXPECT_EQ(chat_.markerQueries.load(), 13);
            EXPECT_FALSE(log_.contains(QStringLiteral("Timeout: Start of chat")));
        }
    }
}

// The extension going away while the tab is in the front must not leave the loop spinning.
class VanishingExtensionTest : public ExportFlowTest {
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
    EXPECT_FALSE(controller_->currentExport().has_value());
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
