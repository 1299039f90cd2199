#include "ui/OnboardingStep2ViewModel.h"

#include "OnboardingTestSupport.h"
#include "support/StdoutCapture.h"
#include "support/TestSupport.h"

namespace {

using onboardingtest::OnboardingFixture;
using Status = OnboardingStep2ViewModel::CheckStatus;

class ExtensionStep : public OnboardingFixture {
protected:
    // The flag's change reaches observers through the main queue.
    void connect(bool connected)
    {
        AppState::shared().setExtensionConnected(connected);
        testsupport::processEventsFor(std::chrono::milliseconds(5));
    }
};

TEST_F(ExtensionStep, AlreadyConnectedShowsConnectedAndOpensNothing)
{
    connect(true);
    OnboardingStep2ViewModel model;
    model.startChecking();
    EXPECT_EQ(model.checkStatus(), Status::connected);
    EXPECT_TRUE(browser.opened.empty());
    EXPECT_TRUE(clock.scheduled.empty());
    EXPECT_FALSE(model.showsBack());
    EXPECT_TRUE(model.showsFinish());
}

TEST_F(ExtensionStep, NoBrowserAsksForChromeAndALaterConnectionStillCounts)
{
    browser.browser.reset();
    OnboardingStep2ViewModel model;
    model.startChecking();
    EXPECT_EQ(model.checkStatus(), Status::chromeNotInstalled);
    EXPECT_TRUE(browser.opened.empty());
    EXPECT_TRUE(clock.scheduled.empty());
    EXPECT_TRUE(model.showsBack());
    EXPECT_FALSE(model.showsFinish());
    connect(true);
    EXPECT_EQ(model.checkStatus(), Status::connected);
}

TEST_F(ExtensionStep, OpensTheConnectPageInTheBrowserAndLooksAgainOnceAfterTwoSeconds)
{
    OnboardingServices::shared().setConnectPageAddress(QStringLiteral("https://example.test/connect/chrome"));
    OnboardingStep2ViewModel model;
    model.startChecking();
    EXPECT_EQ(model.checkStatus(), Status::checking);
    ASSERT_EQ(browser.opened.size(), 1u);
    EXPECT_EQ(browser.opened[0].first, *browser.browser);
    EXPECT_EQ(browser.opened[0].second, QUrl(QStringLiteral("https://example.test/connect/chrome")));
    ASSERT_EQ(clock.scheduled.size(), 1u);
    EXPECT_EQ(clock.scheduled[0].delay, std::chrono::milliseconds(2000));

    clock.fire();
    EXPECT_EQ(model.checkStatus(), Status::notInstalled);
    EXPECT_TRUE(clock.scheduled.empty()); // no polling
    connect(true);
    EXPECT_EQ(model.checkStatus(), Status::connected);
}

TEST_F(ExtensionStep, ConnectionBeforeTheRecheckWins)
{
    OnboardingStep2ViewModel model;
    model.startChecking();
    connect(true);
    EXPECT_EQ(model.checkStatus(), Status::connected);
    clock.fire();
    EXPECT_EQ(model.checkStatus(), Status::connected);
}

TEST_F(ExtensionStep, DisconnectionAfterConnectedChangesNothing)
{
    OnboardingStep2ViewModel model;
    model.startChecking();
    connect(true);
    connect(false);
    EXPECT_EQ(model.checkStatus(), Status::connected);
    // The re-check that finds no connection any more leaves it too.
    clock.fire();
    EXPECT_EQ(model.checkStatus(), Status::connected);
}

TEST_F(ExtensionStep, AnAddressThatDoesNotParseOpensNothingButStillLooksAgain)
{
    OnboardingServices::shared().setConnectPageAddress(QStringLiteral("not a web address"));
    OnboardingStep2ViewModel model;
    model.startChecking();
    EXPECT_TRUE(browser.opened.empty());
    clock.fire();
    EXPECT_EQ(model.checkStatus(), Status::notInstalled);
}

TEST_F(ExtensionStep, AFailedOpenIsOnlyPrinted)
{
    browser.openError = QStringLiteral("No such file or directory");
    testsupport::StdoutCapture out;
    OnboardingStep2ViewModel model;
    model.startChecking();
    EXPECT_EQ(out.text(), QStringLiteral("Failed to open Chrome: No such file or directory\n"));
    EXPECT_EQ(model.checkStatus(), Status::checking);
    clock.fire();
    EXPECT_EQ(model.checkStatus(), Status::notInstalled);
}

TEST_F(ExtensionStep, ARecheckForAStepThatIsGoneDoesNothing)
{
    auto model = std::make_unique<OnboardingStep2ViewModel>();
    model->startChecking();
    model.reset();
    clock.fire(); // must not touch the deleted step
    auto again = std::make_unique<OnboardingStep2ViewModel>();
    again->startChecking();
    EXPECT_EQ(browser.opened.size(), 2u); // a new step opens the page again
}

} // namespace
