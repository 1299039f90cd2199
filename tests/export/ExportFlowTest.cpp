#include "ExportFlowFixture.h"

#include <QFile>

namespace {

const QString kStartSelector = QStringLiteral(
    R"([class*="BotInfoCard_sectionContainer"], [class*="ChatInviteCard_inviteCard"])");
const QString kCollapsedButton = QStringLiteral(
    R"([class*="MarkdownCodeBlock_collapsible__"][data-collapsed="true"] button)");

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
    // The panel's frames follow the reply: wait for the last of them before reading.
    ASSERT_TRUE(extension_.waitFor([&](const IPCMessage& m) {
        return m.request_id == chat_.captureRequestId && m.command == QStringLiteral("ui_render") && m.args && m.args->ui
            && m.args->ui->type == QStringLiteral("success");
    }));
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
    const QList<ExportHistoryItem> history = stores_.history.history();
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
    EXPECT_FALSE(stores_.chunks.getData(chat_.captureRequestId).has_value());
    extension_.send(command(QStringLiteral("open_result")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !shell_.opened.isEmpty(); }));
    EXPECT_EQ(shell_.opened[0].vaultName, QStringLiteral("My Vault"));
    EXPECT_EQ(shell_.opened[0].filePath, QStringLiteral("Mossbridge Inbox/Trip plan/Trip plan.md"));
    EXPECT_TRUE(log_.contains(QStringLiteral("✅ Export Processed: Trip plan.md")));
}
