#include "ui/OnboardingViewModel.h"

#include "core/AppState.h"
#include "storage/VaultManager.h"
#include "ui/OnboardingColor.h"
#include "ui/OnboardingTheme.h"
#include "ui/OnboardingNotifier.h"

OnboardingViewModel::OnboardingViewModel(QObject* parent)
    : QObject(parent)
{
}

void OnboardingViewModel::setSettingsForm(bool settings)
{
    if (settingsForm_ != settings) {
        settingsForm_ = settings;
        Q_EMIT settingsFormChanged();
    }
}

QColor OnboardingViewModel::stepColor(int step) const
{
    if (step == currentStep_) {
        return OnboardingColor::fromHex(QStringLiteral("7c3aed"));
    }
    if (step < currentStep_) {
        return OnboardingColor::fromHex(QStringLiteral("10b981"));
    }
    return OnboardingColor::fromHex(OnboardingTheme::grey());
}

void OnboardingViewModel::appeared()
{
    const bool configured = VaultManager().getVaultURL().has_value();
    if (vaultConfigured_ != configured) {
        vaultConfigured_ = configured;
        Q_EMIT vaultConfiguredChanged();
    }
}

void OnboardingViewModel::setCurrentStep(int step)
{
    if (currentStep_ != step) {
        currentStep_ = step;
        Q_EMIT currentStepChanged();
    }
}

void OnboardingViewModel::vaultStepContinued()
{
    if (settingsForm_ || AppState::shared().isExtensionConnected()) {
        OnboardingNotifier::shared().postOnboardingComplete();
        return;
    }
    setCurrentStep(2);
}

void OnboardingViewModel::back()
{
    setCurrentStep(1);
}

void OnboardingViewModel::finish()
{
    OnboardingNotifier::shared().postOnboardingComplete();
}
