#include "ui/OnboardingStep1ViewModel.h"
#include "ui/OnboardingStep2ViewModel.h"
#include "ui/OnboardingSymbolProvider.h"
#include "ui/OnboardingViewModel.h"
#include "ui/OnboardingWindowManager.h"
#include "ui/UiModule.h"

#include "OnboardingTestSupport.h"
#include "support/QmlWarningGuard.h"
#include "support/TestSupport.h"
#include "support/WindowImages.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include <memory>

namespace {

using onboardingtest::findViewModel;
using onboardingtest::OnboardingWindowFixture;
using testsupport::processEventsFor;
using testsupport::waitUntil;

// Every view of the window, shown as users see it, with no QML warning; each is saved as a
// picture under <build>/window-images/.
class OnboardingViews : public OnboardingWindowFixture {
protected:
    void show(OnboardingMode mode)
    {
        manager.show(mode);
        ASSERT_NE(manager.window(), nullptr);
        ASSERT_TRUE(waitUntil([&] { return manager.window()->isExposed(); }));
        settle();
    }

    // Waits for the step transition and the images to finish.
    void settle()
    {
        auto* steps = manager.rootView()->findChild<QQuickItem*>(QStringLiteral("steps"));
        ASSERT_NE(steps, nullptr);
        ASSERT_TRUE(waitUntil([&] { return !steps->property("busy").toBool(); }));
        processEventsFor(std::chrono::milliseconds(100));
    }

    void save(const QString& name)
    {
        const QString path = testsupport::saveWindowImage(*manager.window(), name);
        EXPECT_FALSE(path.isEmpty()) << name.toStdString();
    }

    OnboardingViewModel* container() { return findViewModel<OnboardingViewModel>(manager.rootView()); }
    OnboardingStep1ViewModel* vaultStep() { return findViewModel<OnboardingStep1ViewModel>(manager.rootView()); }
    OnboardingStep2ViewModel* extensionStep() { return findViewModel<OnboardingStep2ViewModel>(manager.rootView()); }

    void goToExtensionStep()
    {
        ASSERT_NE(container(), nullptr);
        container()->vaultStepContinued();
        settle();
        ASSERT_EQ(container()->currentStep(), 2);
        ASSERT_NE(extensionStep(), nullptr);
    }
};

TEST_F(OnboardingViews, VaultStepInBothForms)
{
    show(OnboardingMode::onboarding);
    ASSERT_NE(vaultStep(), nullptr);
    EXPECT_FALSE(vaultStep()->hasVault());
    save(QStringLiteral("onboarding-vault-first-run"));
    expectNoWarnings();

    manager.close();
    setVault(QStringLiteral("Documents/Obsidian/Notes"));
    storeFolder(QStringLiteral("AI Chats"));
    show(OnboardingMode::onboarding);
    ASSERT_TRUE(vaultStep()->hasVault());
    vaultStep()->setProperty("hoveringSource", true);
    save(QStringLiteral("onboarding-vault-chosen"));
    vaultStep()->setProperty("hoveringSource", false);

    vaultStep()->editFolder();
    processEventsFor(std::chrono::milliseconds(300));
    save(QStringLiteral("onboarding-edit-folder-dialog"));
    expectNoWarnings();

    manager.show(OnboardingMode::settings);
    ASSERT_TRUE(waitUntil([&] { return manager.window()->height() == 460; }));
    settle();
    ASSERT_NE(vaultStep(), nullptr);
    EXPECT_TRUE(vaultStep()->settingsForm());
    save(QStringLiteral("settings"));
    expectNoWarnings();

    manager.close();
    storeFolder(std::nullopt);
    ConfigManager::shared().save(UserPreferences{});
    show(OnboardingMode::settings);
    save(QStringLiteral("settings-no-vault"));
    expectNoWarnings();
}

TEST_F(OnboardingViews, ExtensionStepInEveryStatus)
{
    setVault();
    show(OnboardingMode::onboarding);
    goToExtensionStep();
    EXPECT_EQ(extensionStep()->checkStatus(), OnboardingStep2ViewModel::CheckStatus::checking);
    save(QStringLiteral("onboarding-extension-checking"));

    clock.fire();
    EXPECT_EQ(extensionStep()->checkStatus(), OnboardingStep2ViewModel::CheckStatus::notInstalled);
    processEventsFor(std::chrono::milliseconds(50));
    save(QStringLiteral("onboarding-extension-not-installed"));

    AppState::shared().setExtensionConnected(true);
    processEventsFor(std::chrono::milliseconds(5));
    EXPECT_EQ(extensionStep()->checkStatus(), OnboardingStep2ViewModel::CheckStatus::connected);
    processEventsFor(std::chrono::milliseconds(50));
    save(QStringLiteral("onboarding-extension-connected"));
    expectNoWarnings();

    // Back to the vault step, then forward again with no browser installed.
    AppState::shared().setExtensionConnected(false);
    processEventsFor(std::chrono::milliseconds(5));
    extensionStep()->back();
    settle();
    EXPECT_EQ(container()->currentStep(), 1);
    browser.browser.reset();
    goToExtensionStep();
    EXPECT_EQ(extensionStep()->checkStatus(), OnboardingStep2ViewModel::CheckStatus::chromeNotInstalled);
    save(QStringLiteral("onboarding-extension-chrome-missing"));
    expectNoWarnings();
}

// Each file of the window on its own, in a bare engine.
TEST_F(OnboardingViews, EveryFileLoadsOnItsOwn)
{
    UiModule::registerTypes();
    for (const char* name : {"OnboardingView", "OnboardingStep1View", "OnboardingStep2View", "OnboardingFolderDialog",
             "OnboardingActionButton", "OnboardingCardRow", "OnboardingStepLabel", "OnboardingSymbol"}) {
        for (const bool settings : {false, true}) {
            SCOPED_TRACE(name);
            QQmlEngine engine;
            OnboardingSymbolProvider::installOn(engine);
            QQuickWindow window;
            QQmlComponent component(&engine, UiModule::viewUrl(QString::fromLatin1(name)));
            ASSERT_TRUE(component.isReady()) << component.errorString().toStdString();
            QObject* object = component.beginCreate(engine.rootContext());
            ASSERT_NE(object, nullptr) << component.errorString().toStdString();
            std::unique_ptr<QObject> owner(object);
            if (auto* item = qobject_cast<QQuickItem*>(object)) {
                item->setParentItem(window.contentItem());
            }
            if (object->property("settingsForm").isValid()) {
                object->setProperty("settingsForm", settings);
            }
            component.completeCreate();
            processEventsFor(std::chrono::milliseconds(10));
            owner.reset();
            expectNoWarnings();
        }
    }
}

} // namespace
