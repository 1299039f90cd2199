#pragma once

#include <QObject>

#include <atomic>

// The shared observable flags the windows and the export controller watch. Writers change
// them on the main thread (the setters post there when called elsewhere); reads are safe
// from any thread.
class AppState : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isExtensionConnected READ isExtensionConnected WRITE setExtensionConnected NOTIFY isExtensionConnectedChanged)
    Q_PROPERTY(bool showOnboarding READ showOnboarding WRITE setShowOnboarding NOTIFY showOnboardingChanged)

public:
    static AppState& shared();

    bool isExtensionConnected() const { return isExtensionConnected_.load(); }
    bool showOnboarding() const { return showOnboarding_.load(); }

    void setExtensionConnected(bool connected);
    void setShowOnboarding(bool show);

Q_SIGNALS:
    void isExtensionConnectedChanged(bool connected);
    void showOnboardingChanged(bool show);

private:
    AppState() = default;

    std::atomic<bool> isExtensionConnected_ {false};
    std::atomic<bool> showOnboarding_ {false};
};
