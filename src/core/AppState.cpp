#include "core/AppState.h"

#include "core/Dispatch.h"

AppState& AppState::shared()
{
    static AppState* instance = new AppState; // lives as long as the process
    return *instance;
}

void AppState::setExtensionConnected(bool connected)
{
    // The flag flips at once so that readers on other threads see it; the change is
    // published on the main thread.
    if (isExtensionConnected_.exchange(connected) != connected) {
        dispatchMainAsync([this, connected] { Q_EMIT isExtensionConnectedChanged(connected); });
    }
}

void AppState::setShowOnboarding(bool show)
{
    if (showOnboarding_.exchange(show) != show) {
        dispatchMainAsync([this, show] { Q_EMIT showOnboardingChanged(show); });
    }
}
