#pragma once

#include "core/OnboardingMode.h"

#include <QObject>
#include <QPointer>

class OnboardingWindow;
class QQuickItem;
class QQuickWindow;
class QVariantAnimation;
class QWindow;

// Owns the one onboarding/settings window: creates it on first use, reshapes it when the other
// form is asked for, brings it and the application forward, closes it on
// "OnboardingComplete", and keeps the close rule: leaving the onboarding form before a vault
// and a destination folder are set quits the application. Main thread only.
class OnboardingWindowManager : public QObject {
    Q_OBJECT

public:
    static constexpr int windowWidth = 480;
    static constexpr int onboardingHeight = 560;
    static constexpr int settingsHeight = 460;

    static OnboardingWindowManager& shared();

    // Opens the window in the given form, or switches the open one to it (new root view,
    // animated height change around its centre); always brings it forward.
    void show(OnboardingMode mode);
    // Closes the window without the close rule (the flow is done).
    void close();
    // Ctrl+W: a user close of the visible window, as its close button.
    void handleCloseShortcut();
    // Whether Ctrl+W belongs to this window.
    bool isOnboardingKeyWindow() const;

    // The close rule, asked on a user close.
    bool windowShouldClose(QWindow* window);
    // Clean-up on every close.
    void windowWillClose();

    // The open window and its root view, or nullptr.
    QQuickWindow* window() const;
    QQuickItem* rootView() const;
    bool isClosing() const { return isClosing_; }
    OnboardingMode currentMode() const { return currentMode_; }

private:
    OnboardingWindowManager();
    ~OnboardingWindowManager() override;

    static int heightFor(OnboardingMode mode);
    QQuickItem* makeRootView(OnboardingMode mode) const;
    void resizeAroundCentre(int height);
    void centreAndBringForward();
    void tearDown();
    bool isConfigured() const;
    void requestTerminate();

    QPointer<OnboardingWindow> windowController_;
    QPointer<QQuickItem> hostingController_;
    bool isClosing_ = false;
    OnboardingMode currentMode_ = OnboardingMode::onboarding;
    QPointer<QVariantAnimation> resizeAnimation_;
};
