#include "ShellFixture.h"

#include "export/ExportController.h"
#include "platform/Application.h"
#include "platform/DesktopIntegration.h"
#include "shell/MainWindow.h"
#include "shell/KeyEquivalentMonitor.h"
#include "platform/UpdateCheckResult.h"
#include "shell/StatusMenu.h"
#include "ui/OnboardingWindowManager.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QSystemTrayIcon>
#include <QMenu>
#include <QTimer>
#include <QWindow>

#include <thread>

using namespace std::chrono_literals;

namespace {

ExportHistoryItem exported(const QString& title, bool success, qint64 minutesAgo)
{
    ExportHistoryItem item;
    item.title = title;
    item.finalPath = QStringLiteral("Inbox/") + title + QStringLiteral(".md");
    item.vaultName = success ? QStringLiteral("Notes") : QStringLiteral("Unknown");
    item.timestamp = QDateTime::currentDateTimeUtc().addSecs(-60 * minutesAgo);
    item.success = success;
    if (!success) {
        item.errorMessage = QStringLiteral("Export failed");
    }
    return item;
}

QStringList entryTexts(const QMenu* menu)
{
    QStringList texts;
    if (menu != nullptr) {
        for (const QAction* action : menu->actions()) {
            texts.append(action->isSeparator() ? QStringLiteral("---") : action->text());
        }
    }
    return texts;
}

// The entries between the first two separators: the recent exports.
QStringList recentEntries(const QMenu* menu)
{
    const QStringList texts = entryTexts(menu);
    const qsizetype first = texts.indexOf(QStringLiteral("---"));
    const qsizetype second = texts.indexOf(QStringLiteral("---"), first + 1);
    return first < 0 || second < 0 ? QStringList() : texts.mid(first + 1, second - first - 1);
}

} // namespace

using AppDelegateLaunch = ShellFixture;

TEST_F(AppDelegateLaunch, TheFirstWindowDependsOnTheVaultAndOnEarlierLaunches)
{
    const struct {
        const char* name;
        bool vault;
        bool launchedBefore;
        bool onboarding;
        bool mainWindow;
    } cases[] = {
        {"first launch, no vault", false, false, true, false},
        {"first launch with a vault", true, false, false, true},
        {"later launch with a vault", true, true, false, false},
        {"later launch, vault gone", false, true, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        UserDefaults::standard().remove(QStringLiteral("UserPreferences"));
        UserDefaults::standard().remove(QStringLiteral("HasLaunchedBefore"));
        ConfigManager::shared().reload();
        onboardingRequests_.clear();
        if (c.vault) {
            configureVault();
        }
        if (c.launchedBefore) {
            UserDefaults::standard().setBool(QStringLiteral("HasLaunchedBefore"), true);
        }
        AppDelegate& delegate = launch();
        if (c.mainWindow) {
            // It appears 0.1 s after it is asked for.
            EXPECT_TRUE(testsupport::waitUntil([&] { return delegate.mainWindow()->isVisible(); }));
        } else {
            testsupport::processEventsFor(300ms);
        }
        // (Counted, not compared as lists: Qt compares two empty lists through memcmp on null.)
        ASSERT_EQ(onboardingRequests_.size(), c.onboarding ? 1 : 0);
        if (c.onboarding) {
            EXPECT_EQ(onboardingRequests_.first(), OnboardingMode::onboarding);
        }
        EXPECT_EQ(delegate.mainWindow()->isVisible(), c.mainWindow);
        EXPECT_EQ(Application::activationPolicy(), c.mainWindow ? ActivationPolicy::regular : ActivationPolicy::accessory);
        EXPECT_TRUE(UserDefaults::standard().boolValue(QStringLiteral("HasLaunchedBefore")));
        EXPECT_TRUE(logText().startsWith(QStringLiteral("[")));
        EXPECT_TRUE(logText().contains(QStringLiteral("] Waiting for extension communication...\n")));
        delegate.closeMainWindow();
    }
}

TEST_F(AppDelegateLaunch, TheMenuFollowsTheHistoryAndTheStatusLineLastsUntilItsNextChange)
{
    configureVault(QStringLiteral("Work Notes"));
    ExportHistoryManager::shared().clear();
    AppDelegate& delegate = launch();
    ASSERT_TRUE(testsupport::waitUntil([&] { return recentEntries(delegate.statusMenu()) == QStringList {"  (No exports yet)"}; }));
    EXPECT_EQ(entryTexts(delegate.statusMenu()).first(), QStringLiteral("Vault: Work Notes"));

    // Only failed exports: still nothing to open.
    ExportHistoryManager::shared().add(exported(QStringLiteral("Broken"), false, 1));
    ASSERT_TRUE(testsupport::waitUntil([&] { return recentEntries(delegate.statusMenu()) == QStringList {"  (No exports yet)"}; }));

    for (int i = 1; i <= 7; ++i) {
        ExportHistoryManager::shared().add(exported(QStringLiteral("Chat %1").arg(i), true, 100 - i));
    }
    const QStringList newestFive {"  \u2192 Chat 7", "  \u2192 Chat 6", "  \u2192 Chat 5", "  \u2192 Chat 4", "  \u2192 Chat 3"};
    ASSERT_TRUE(testsupport::waitUntil([&] { return recentEntries(delegate.statusMenu()) == newestFive; }))
        << entryTexts(delegate.statusMenu()).join(u'|').toStdString();

    // The export controller's status line replaces the vault entry, from any thread...
    std::thread worker([&delegate] { delegate.updateStatus(QStringLiteral("Exporting: scrolling to the top...")); });
    worker.join();
    ASSERT_TRUE(testsupport::waitUntil([&] { return entryTexts(delegate.statusMenu()).first() == QStringLiteral("Exporting: scrolling to the top..."); }));
    // ... until the next change of the history puts the vault back.
    ExportHistoryManager::shared().add(exported(QStringLiteral("Chat 8"), true, 0));
    ASSERT_TRUE(testsupport::waitUntil([&] { return entryTexts(delegate.statusMenu()).first() == QStringLiteral("Vault: Work Notes"); }));
    EXPECT_EQ(recentEntries(delegate.statusMenu()).first(), QStringLiteral("  \u2192 Chat 8"));
    EXPECT_EQ(delegate.statusItem()->contextMenu(), delegate.statusMenu());

    // Clearing the history (the main window's Clear) empties the recent exports too.
    ExportHistoryManager::shared().clear();
    ASSERT_TRUE(testsupport::waitUntil([&] { return recentEntries(delegate.statusMenu()) == QStringList {"  (No exports yet)"}; }));
}

TEST_F(AppDelegateLaunch, EveryWindowCarriesTheLogoAsItsIcon)
{
    AppDelegate& delegate = launch();
    const QImage logo = QIcon(QString::fromLatin1(DesktopIntegration::iconResource)).pixmap(32, 32).toImage();
    ASSERT_FALSE(logo.isNull());
    ASSERT_GT(logo.pixelColor(16, 16).alpha(), 0);
    const std::pair<const char*, QIcon> windows[] = {
        {"main window", delegate.mainWindow()->icon()},
        {"activity log", delegate.logWindow()->windowIcon()},
    };
    for (const auto& [name, icon] : windows) {
        EXPECT_EQ(icon.pixmap(32, 32).toImage(), logo) << name;
    }
}

TEST_F(AppDelegateLaunch, UpdateStatusBeforeAnyMenuDoesNothing)
{
    AppDelegate delegate(options());
    delegate.updateStatus(QStringLiteral("Ready"));
    testsupport::processEventsFor(20ms);
    EXPECT_EQ(delegate.statusMenu(), nullptr);
}

TEST_F(AppDelegateLaunch, OnlyTheQuitItemCtrlQTheUpdaterOrAnAllowedRequestEndTheProgram)
{
    configureVault();
    UserDefaults::standard().setBool(QStringLiteral("HasLaunchedBefore"), true);
    const struct {
        const char* name;
        std::function<void(AppDelegate&)> request;
        bool terminates;
    } cases[] = {
        {"the quit item", [](AppDelegate& d) { d.quitFromMenu(); }, true},
        {"Ctrl+Q", [](AppDelegate& d) { d.keyEventMonitor()->handleKey(Qt::Key_Q, true); }, true},
        {"a toolkit quit", [](AppDelegate&) { QCoreApplication::quit(); }, false},
        {"Ctrl+W on the main window", [](AppDelegate& d) { d.keyEventMonitor()->handleKey(Qt::Key_W, true); }, false},
        {"a toolkit quit after the updater's install hook",
            [](AppDelegate& d) {
                d.updaterWillInstallUpdate();
                QCoreApplication::quit();
            },
            true},
        {"the updater's relaunch hook, then a quit",
            [](AppDelegate& d) {
                d.updaterWillRelaunchApplication();
                QCoreApplication::quit();
            },
            true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        AppDelegate& delegate = launch();
        delegate.openMainWindow();
        ASSERT_TRUE(testsupport::waitUntil([&] { return delegate.mainWindow()->isVisible(); }));
        delegate.mainWindow()->requestActivate();
        ASSERT_TRUE(testsupport::waitUntil([&] { return QGuiApplication::focusWindow() == delegate.mainWindow(); }));

        // Both timers belong to this case: a refusal timer left over from a request granted at
        // once would otherwise end a later case's loop.
        QObject caseScope;
        QTimer::singleShot(0, &caseScope, [&] { c.request(delegate); });
        QTimer::singleShot(1500, &caseScope, [] { QCoreApplication::exit(99); }); // the request was refused
        const int status = QCoreApplication::exec();
        EXPECT_EQ(status, c.terminates ? 0 : 99);
        if (!c.terminates) {
            EXPECT_FALSE(delegate.mainWindow()->isVisible());
            EXPECT_EQ(Application::activationPolicy(), ActivationPolicy::accessory);
        }
        // A granted request does not leave the next one allowed.
        EXPECT_FALSE(delegate.allowTerminateFromMenu());
    }
}

namespace {

QAction* entry(QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text) {
            return action;
        }
    }
    return nullptr;
}
} // namespace

TEST_F(AppDelegateLaunch, MenuCommandsReachTheirWindowsPagesAndTheUpdateCheck)
{
    UrlRecorder browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    configureVault();
    UserDefaults::standard().setBool(QStringLiteral("HasLaunchedBefore"), true);
    const struct {
        const char* name;
        QString feedbackAddress;
        QList<QUrl> opened;
    } feedbackCases[] = {
        {"a feedback form address", QStringLiteral("https://mossbridge.example/feedback"), {QUrl(QStringLiteral("https://mossbridge.example/feedback"))}},
        {"no address in this build", QString(), {}},
        {"an address that is not one", QStringLiteral("not an address"), {}},
    };
    for (const auto& c : feedbackCases) {
        SCOPED_TRACE(c.name);
        TearDown();
        browser.opened.clear();
        AppDelegate::Options o = options();
        o.feedbackFormAddress = c.feedbackAddress;
        QList<UpdateCheckResult::Kind> updateResults;
        o.presentUpdateResult = [&updateResults](const UpdateCheckResult& result) { updateResults.append(result.kind); };
        AppDelegate& delegate = launch(o);

        entry(delegate.statusMenu(), QStringLiteral("Send Feedback..."))->trigger();
        testsupport::processEventsFor(20ms);
        EXPECT_EQ(browser.opened, c.opened);

        entry(delegate.statusMenu(), QStringLiteral("Change Vault..."))->trigger();
        ASSERT_EQ(onboardingRequests_.size(), 1);
        EXPECT_EQ(onboardingRequests_.takeFirst(), OnboardingMode::settings);

        entry(delegate.statusMenu(), QStringLiteral("Check for Updates..."))->trigger();
        ASSERT_TRUE(testsupport::waitUntil([&] { return !updateResults.isEmpty(); }));
        EXPECT_EQ(updateResults.first(), UpdateCheckResult::Kind::noFeed); // this build has no feed address

        entry(delegate.statusMenu(), QStringLiteral("Export History..."))->trigger();
        EXPECT_TRUE(testsupport::waitUntil([&] { return delegate.mainWindow()->isVisible(); }));
    }
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}


TEST_F(AppDelegateLaunch, CtrlWOnTheOnboardingWindowFollowsItsCloseRuleThroughTheQuitPolicy)
{
    const struct {
        const char* name;
        OnboardingMode mode;
        bool terminates;
    } cases[] = {
        {"onboarding without a vault quits", OnboardingMode::onboarding, true},
        {"settings closes and the program goes on", OnboardingMode::settings, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        AppDelegate::Options o = options();
        o.showOnboardingWindow = {}; // the real onboarding window
        AppDelegate& delegate = launch(o);
        delegate.showOnboarding(c.mode);
        ASSERT_TRUE(testsupport::waitUntil([] {
            QWindow* window = OnboardingWindowManager::shared().window();
            return window != nullptr && window->isVisible() && QGuiApplication::focusWindow() == window;
        }));
        QTimer::singleShot(0, [&] { delegate.keyEventMonitor()->handleKey(Qt::Key_W, true); });
        QTimer::singleShot(1500, [] { QCoreApplication::exit(99); });
        EXPECT_EQ(QCoreApplication::exec(), c.terminates ? 0 : 99);
        if (!c.terminates) {
            EXPECT_EQ(OnboardingWindowManager::shared().window(), nullptr);
        }
        OnboardingWindowManager::shared().close();
        testsupport::processEventsFor(20ms);
    }
}
