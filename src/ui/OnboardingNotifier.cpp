#include "ui/OnboardingNotifier.h"

OnboardingNotifier& OnboardingNotifier::shared()
{
    static OnboardingNotifier instance;
    return instance;
}

int OnboardingNotifier::onboardingCompleteObserverCount() const
{
    return receivers(SIGNAL(onboardingComplete()));
}
