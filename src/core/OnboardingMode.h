#pragma once

// Which form the onboarding window takes.
enum class OnboardingMode {
    onboarding,
    settings,
};
