#include "ui/OnboardingColor.h"
#include "ui/OnboardingNotifier.h"
#include "ui/OnboardingViewModel.h"

#include "OnboardingTestSupport.h"

namespace {

using onboardingtest::OnboardingFixture;

class OnboardingContainer : public OnboardingFixture {
protected:
    void SetUp() override
    {
        OnboardingFixture::SetUp();
        QObject::connect(&OnboardingNotifier::shared(), &OnboardingNotifier::onboardingComplete, &receiver,
            [this] { ++completions; });
    }

    QObject receiver;
    int completions = 0;
};

TEST_F(OnboardingContainer, VaultContinueLeadsToTheExtensionStepOrEndsTheFlow)
{
    struct Case {
        bool settings;
        bool connected;
        int step;
        int completions;
    };
    for (const Case c : {Case{false, false, 2, 0}, Case{false, true, 1, 1}, Case{true, false, 1, 1}, Case{true, true, 1, 1}}) {
        completions = 0;
        AppState::shared().setExtensionConnected(c.connected);
        OnboardingViewModel model;
        model.setSettingsForm(c.settings);
        EXPECT_EQ(model.showsStepIndicator(), !c.settings);
        model.vaultStepContinued();
        EXPECT_EQ(model.currentStep(), c.step) << c.settings << c.connected;
        EXPECT_EQ(completions, c.completions) << c.settings << c.connected;
    }
}

TEST_F(OnboardingContainer, ExtensionStepGoesBackOrFinishes)
{
    OnboardingViewModel model;
    model.vaultStepContinued();
    ASSERT_EQ(model.currentStep(), 2);
    EXPECT_EQ(model.vaultStepColor(), OnboardingColor::fromHex(QStringLiteral("10b981")));
    EXPECT_EQ(model.extensionStepColor(), OnboardingColor::fromHex(QStringLiteral("7c3aed")));
    model.back();
    EXPECT_EQ(model.currentStep(), 1);
    EXPECT_EQ(model.vaultStepColor(), OnboardingColor::fromHex(QStringLiteral("7c3aed")));
    EXPECT_NE(model.extensionStepColor(), OnboardingColor::fromHex(QStringLiteral("10b981")));
    EXPECT_EQ(completions, 0);
    model.finish();
    EXPECT_EQ(completions, 1);
}

TEST_F(OnboardingContainer, AppearingNotesWhetherAVaultResolves)
{
    OnboardingViewModel model;
    model.appeared();
    EXPECT_FALSE(model.vaultConfigured());
    setVault();
    model.appeared();
    EXPECT_TRUE(model.vaultConfigured());
}

} // namespace
