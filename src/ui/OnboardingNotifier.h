#pragma once

#include <QObject>

// The in-process notification "OnboardingComplete": the onboarding views post it when the
// flow ends, and the window manager closes the window on it. Main thread only.
class OnboardingNotifier : public QObject {
    Q_OBJECT

public:
    static OnboardingNotifier& shared();

    void postOnboardingComplete() { Q_EMIT onboardingComplete(); }
    // How many observers are registered for "OnboardingComplete".
    int onboardingCompleteObserverCount() const;

Q_SIGNALS:
    void onboardingComplete();

private:
    OnboardingNotifier() = default;
};
