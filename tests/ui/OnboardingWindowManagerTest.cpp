#include "ui/OnboardingNotifier.h"
#include "ui/OnboardingViewModel.h"
#include "ui/OnboardingWindowManager.h"

#include "OnboardingTestSupport.h"
#include "support/QmlWarningGuard.h"
#include "support/TestSupport.h"

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

using onboardingtest::OnboardingWindowFixture;
using testsupport::processEventsFor;
using testsupport::waitUntil;

class OnboardingWindows : public OnboardingWindowFixture {
protected:
    // Shows the form and lets the deferred centring and any resize finish.
    QQuickWindow* showAndSettle(OnboardingMode mode)
    {
        manager.show(mode);
        const int height = mode == OnboardingMode::onboarding ? 560 : 460;
        EXPECT_TRUE(waitUntil([&] { return manager.window() != nullptr && manager.window()->height() == height; }));
        processEventsFor(std::chrono::milliseconds(50));
        return manager.window();
    }

    bool rootIsSettingsForm() const
    {
        return manager.rootView() != nullptr && manager.rootView()->property("settingsForm").toBool();
    }
};

TEST_F(OnboardingWindows, EachFormHasItsSize)
{
    for (const auto& [mode, height] : {std::pair{OnboardingMode::onboarding, 560}, std::pair{OnboardingMode::settings, 460}}) {
        QQuickWindow* window = showAndSettle(mode);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->size(), QSize(480, height));
        EXPECT_EQ(window->minimumSize(), window->maximumSize()); // not resizable
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->color(), QColor(26, 26, 26));
        EXPECT_EQ(AppState::shared().showOnboarding(), mode == OnboardingMode::onboarding);
        EXPECT_EQ(Application::activationPolicy(), ActivationPolicy::regular);
        manager.close();
        EXPECT_EQ(manager.window(), nullptr);
        EXPECT_FALSE(AppState::shared().showOnboarding());
    }
}

TEST_F(OnboardingWindows, SettingsOverAnOpenOnboardingWindowReshapesTheSameWindow)
{
    QQuickWindow* window = showAndSettle(OnboardingMode::onboarding);
    ASSERT_NE(window, nullptr);
    const QPoint centre = window->geometry().center();
    QPointer<QQuickItem> firstRoot = manager.rootView();
    ASSERT_FALSE(rootIsSettingsForm());
    ASSERT_TRUE(AppState::shared().showOnboarding());

    manager.show(OnboardingMode::settings);
    EXPECT_EQ(manager.window(), window);
    EXPECT_FALSE(AppState::shared().showOnboarding());
    EXPECT_TRUE(firstRoot.isNull()); // a new root view, starting over
    EXPECT_TRUE(rootIsSettingsForm());
    EXPECT_LT(window->height(), 561);
    ASSERT_TRUE(waitUntil([&] { return window->height() == 460; }));
    processEventsFor(std::chrono::milliseconds(50));
    EXPECT_EQ(window->width(), 480);
    EXPECT_LE((window->geometry().center() - centre).manhattanLength(), 1);
    EXPECT_EQ(manager.currentMode(), OnboardingMode::settings);
}

TEST_F(OnboardingWindows, CloseRuleTable)
{
    struct Case {
        const char* name;
        OnboardingMode mode;
        bool vault;
        std::optional<QString> folder;
        bool closes;
    };
    const Case cases[] = {
        {"onboarding without vault", OnboardingMode::onboarding, false, QStringLiteral("Mossbridge Inbox"), false},
        {"onboarding with a blank folder", OnboardingMode::onboarding, true, QStringLiteral("  \n"), false},
        {"onboarding with no folder stored", OnboardingMode::onboarding, true, std::nullopt, false},
        {"onboarding configured", OnboardingMode::onboarding, true, QStringLiteral("Inbox"), true},
        {"settings without vault", OnboardingMode::settings, false, QStringLiteral(""), true},
        {"settings configured", OnboardingMode::settings, true, QStringLiteral("Inbox"), true},
    };
    const QString vault = makeFolder(QStringLiteral("Vault"));
    for (const Case& c : cases) {
        // The close button and Ctrl+W take the same road.
        for (const bool shortcut : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (shortcut ? " (Ctrl+W)" : " (close button)"));
            ConfigManager::shared().save(UserPreferences{std::nullopt, c.folder});
            if (c.vault) {
                VaultManager().setVaultURL(vault);
            }
            delegate.terminateRequests = 0;
            delegate.allowTerminateFromMenu = false;
            QQuickWindow* window = showAndSettle(c.mode);
            ASSERT_NE(window, nullptr);

            if (shortcut) {
                manager.handleCloseShortcut();
            } else {
                window->close();
            }
            processEventsFor(std::chrono::milliseconds(10));

            EXPECT_EQ(manager.window() == nullptr, c.closes);
            EXPECT_EQ(delegate.terminateRequests, c.closes ? 0 : 1);
            EXPECT_EQ(delegate.allowTerminateFromMenu, !c.closes);
            EXPECT_FALSE(manager.isClosing());
            manager.close();
            ASSERT_EQ(manager.window(), nullptr);
        }
    }
}

TEST_F(OnboardingWindows, OnboardingCompleteClosesEitherFormWithoutTheRule)
{
    for (const OnboardingMode mode : {OnboardingMode::onboarding, OnboardingMode::settings}) {
        ASSERT_NE(showAndSettle(mode), nullptr);
        OnboardingNotifier::shared().postOnboardingComplete();
        EXPECT_EQ(manager.window(), nullptr);
        EXPECT_FALSE(manager.isClosing());
        EXPECT_FALSE(AppState::shared().showOnboarding());
        EXPECT_EQ(delegate.terminateRequests, 0);
    }
    // Every window made so far registered once more; the extra calls find no window and must
    // not leave the next window's close rule switched off.
    ASSERT_NE(showAndSettle(OnboardingMode::onboarding), nullptr);
    OnboardingNotifier::shared().postOnboardingComplete();
    EXPECT_FALSE(manager.isClosing());
    ASSERT_NE(showAndSettle(OnboardingMode::onboarding), nullptr);
    manager.window()->close();
    EXPECT_NE(manager.window(), nullptr);
    EXPECT_EQ(delegate.terminateRequests, 1);
}

TEST_F(OnboardingWindows, TheObserverIsRegisteredOncePerWindow)
{
    const int before = OnboardingNotifier::shared().onboardingCompleteObserverCount();
    showAndSettle(OnboardingMode::onboarding);
    EXPECT_EQ(OnboardingNotifier::shared().onboardingCompleteObserverCount(), before + 1);
    showAndSettle(OnboardingMode::settings); // reshaped, not made anew
    EXPECT_EQ(OnboardingNotifier::shared().onboardingCompleteObserverCount(), before + 1);
    manager.close();
    showAndSettle(OnboardingMode::onboarding);
    EXPECT_EQ(OnboardingNotifier::shared().onboardingCompleteObserverCount(), before + 2);
}

TEST_F(OnboardingWindows, CtrlWBelongsToTheWindowOnlyWhileItIsKey)
{
    EXPECT_FALSE(manager.isOnboardingKeyWindow());
    manager.handleCloseShortcut(); // no window: nothing happens
    QQuickWindow* window = showAndSettle(OnboardingMode::settings);
    ASSERT_TRUE(waitUntil([&] { return manager.isOnboardingKeyWindow(); }));

    QWindow other;
    other.resize(100, 100);
    other.show();
    other.requestActivate();
    ASSERT_TRUE(waitUntil([&] { return QGuiApplication::focusWindow() == &other; }));
    EXPECT_FALSE(manager.isOnboardingKeyWindow());
    EXPECT_EQ(manager.window(), window);
}

TEST_F(OnboardingWindows, TheVaultStepsContinueWithTheExtensionConnectedClosesTheWindow)
{
    setVault();
    AppState::shared().setExtensionConnected(true);
    showAndSettle(OnboardingMode::onboarding);
    auto* container = onboardingtest::findViewModel<OnboardingViewModel>(manager.rootView());
    ASSERT_NE(container, nullptr);
    container->vaultStepContinued();
    EXPECT_EQ(manager.window(), nullptr);
    EXPECT_EQ(delegate.terminateRequests, 0);
}

} // namespace
