// How an export's end is reported: the notification's title and the tab it focuses, and the
// context the reply's panel carries.

#include "ExportFlowFixture.h"

#include "export/ExportResults.h"
#include "export/ExportRuntime.h"

TEST(NotificationTitle, CutsLongTitlesByCharacters)
{
    const QString sixty(60, QLatin1Char('a'));
    // An emoji with a skin-tone modifier is one character of two code points and four units.
    const QString wave = QStringLiteral("\U0001F44B\U0001F3FD");
    struct Case {
        QString chatTitle;
        QString title;
    };
    for (const Case& c : std::vector<Case> {
             {QString(), QStringLiteral("Mossbridge: \"Chat\"")},
             {QStringLiteral("Trip"), QStringLiteral("Mossbridge: \"Trip\"")},
             {sixty, QStringLiteral("Mossbridge: \"") + sixty + QStringLiteral("\"")},
             {sixty + QStringLiteral("b"), QStringLiteral("Mossbridge: \"") + sixty + QStringLiteral("…\"")},
             {wave.repeated(60), QStringLiteral("Mossbridge: \"") + wave.repeated(60) + QStringLiteral("\"")},
             {wave.repeated(61), QStringLiteral("Mossbridge: \"") + wave.repeated(60) + QStringLiteral("…\"")},
         }) {
        EXPECT_EQ(ExportResults::notificationTitle(c.chatTitle), c.title) << qPrintable(c.chatTitle);
    }
}

// An error notification focuses the tab it names, else the last export's; without both a tab
// and a window there is nothing to focus and it carries no user info at all.
TEST(ErrorNotification, FocusesTheGivenTabOrTheLastExports)
{
    struct Case {
        const char* name;
        std::optional<qint64> lastTab;
        std::optional<qint64> lastWindow;
        std::optional<qint64> tab;
        std::optional<qint64> window;
        QVariantMap userInfo;
    };
    const auto focus = [](const char* tab, const char* window) {
        return QVariantMap {{QStringLiteral("focusTabId"), QString::fromLatin1(tab)},
            {QStringLiteral("focusWindowId"), QString::fromLatin1(window)}};
    };
    const std::vector<Case> cases {
        {"its own ids", std::nullopt, std::nullopt, 12, 3, focus("12", "3")},
        {"the last export's ids", 5, 9, std::nullopt, std::nullopt, focus("5", "9")},
        {"its tab, the last export's window", 5, 9, 12, std::nullopt, focus("12", "9")},
        {"no window known", 5, std::nullopt, std::nullopt, std::nullopt, {}},
        {"nothing known", std::nullopt, std::nullopt, std::nullopt, std::nullopt, {}},
    };
    RecordingShell shell;
    ExportStores stores;
    ExportRuntime runtime(&shell, {});
    ExportSessionState state;
    ExportResults results(runtime, state, stores.history);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        state.setLastExport(c.lastTab, c.lastWindow);
        results.scheduleErrorNotification(QStringLiteral("Trip"), QStringLiteral("Export failed: no"), c.tab, c.window);
        ASSERT_FALSE(shell.notifications.isEmpty());
        EXPECT_EQ(shell.notifications.last().title, QStringLiteral("Mossbridge: \"Trip\""));
        EXPECT_EQ(shell.notifications.last().body, QStringLiteral("Export failed: no"));
        EXPECT_EQ(shell.notifications.last().userInfo, c.userInfo);
    }
}

class ExportResultsTest : public ExportFlowFixture { };

// Once the session is over, a result's panel still goes to the last export's tab, as
// "processing"; a success without a note is "Saved to disk".
TEST_F(ExportResultsTest, AResultAfterTheSessionNamesTheLastExportsTab)
{
    invoke(5, 9); // refused for want of a vault: the ids stay, the session does not
    ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("abort_export")));
    ASSERT_TRUE(waitForStatus(QStringLiteral("Ready")));
    extension_.clearReceived();

    controller_->results().sendSuccessResponse(QStringLiteral("late"), std::nullopt);
    const std::optional<IPCMessage> reply = waitForExportReply(QStringLiteral("late"));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->result->value(QStringLiteral("message")), QStringLiteral("Saved to disk"));
    ASSERT_TRUE(extension_.waitForCommand(QStringLiteral("ui_render")));
    for (const QString& command : {QStringLiteral("update_ui"), QStringLiteral("ui_render")}) {
        SCOPED_TRACE(command.toStdString());
        const QList<IPCMessage> panels = extension_.receivedWithCommand(command);
        ASSERT_EQ(panels.size(), 1);
        ASSERT_TRUE(panels[0].args);
        EXPECT_EQ(panels[0].request_id, QStringLiteral("late"));
        EXPECT_EQ(panels[0].args->tabId, 5);
        EXPECT_EQ(panels[0].args->windowId, 9);
        EXPECT_EQ(panels[0].args->session, (SessionContext {5, 9, QStringLiteral("processing")}));
        EXPECT_EQ(panels[0].args->ui->type, QStringLiteral("success"));
    }
}
