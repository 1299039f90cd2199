#pragma once

#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>

#include <functional>
#include <memory>

class QQmlEngine;

// The onboarding/settings window: a fixed-size dark window that hosts one root view, asks
// before a user close and reports every close. The engine that made its views lives and dies
// with it. Dragging its background moves it.
class OnboardingWindow : public QQuickWindow {
    Q_OBJECT

public:
    struct CloseHooks {
        std::function<bool()> shouldClose;
        std::function<void()> willClose;
    };

    explicit OnboardingWindow(CloseHooks hooks);
    ~OnboardingWindow() override;

    QQmlEngine& engine() const { return *engine_; }
    QQuickItem* rootView() const { return rootView_; }
    // Hosts `view` (owned from now on) in place of the current root view, which is deleted.
    void setRootView(QQuickItem* view);
    // Keeps the size fixed at `size` (the user cannot resize the window).
    void fixSize(const QSize& size);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    CloseHooks hooks_;
    std::unique_ptr<QQmlEngine> engine_;
    QPointer<QQuickItem> rootView_;
};
