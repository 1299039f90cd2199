#include "shell/KeyEquivalentMonitor.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QWindow>

KeyEquivalentMonitor::KeyEquivalentMonitor(Targets targets, QObject* parent)
    : QObject(parent)
    , targets_(std::move(targets))
{
    if (!targets_.keyWindow) {
        targets_.keyWindow = [] { return QGuiApplication::focusWindow(); };
    }
}

KeyEquivalentMonitor::Outcome KeyEquivalentMonitor::handleKey(int key, bool control)
{
    if (!control) {
        return Outcome::passThrough;
    }
    if (key == Qt::Key_Q) {
        if (targets_.quit) {
            targets_.quit();
        }
        return Outcome::quit;
    }
    if (key != Qt::Key_W) {
        return Outcome::passThrough;
    }
    if (targets_.isOnboardingKeyWindow && targets_.isOnboardingKeyWindow()) {
        if (targets_.closeOnboardingWindow) {
            targets_.closeOnboardingWindow();
        }
        return Outcome::closedOnboarding;
    }
    QWindow* activeWindow = targets_.keyWindow();
    if (activeWindow == nullptr) {
        return Outcome::passThrough;
    }
    if (targets_.logWindow && activeWindow == targets_.logWindow()) {
        activeWindow->close();
        return Outcome::closedLogWindow;
    }
    if (targets_.mainWindow && activeWindow == targets_.mainWindow()) {
        if (targets_.hideMainWindow) {
            targets_.hideMainWindow();
        }
        return Outcome::hidMainWindow;
    }
    activeWindow->close();
    return Outcome::closedOtherWindow;
}

bool KeyEquivalentMonitor::eventFilter(QObject* watched, QEvent* event)
{
    // A key press reaches the window first and then its focus widget or item; deciding at the
    // window keeps one press from being handled twice.
    if (event->type() != QEvent::KeyPress || !watched->isWindowType()) {
        return false;
    }
    const auto* keyEvent = static_cast<QKeyEvent*>(event);
    const bool control = keyEvent->modifiers().testFlag(Qt::ControlModifier);
    return handleKey(keyEvent->key(), control) != Outcome::passThrough;
}
