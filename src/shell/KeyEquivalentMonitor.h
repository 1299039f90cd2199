#pragma once

#include <QObject>

#include <functional>

class QWindow;

// Ctrl+W and Ctrl+Q for the whole program (an application-wide event filter): Ctrl+W closes the
// active window by the program's rules, Ctrl+Q asks to quit as the quit item does. Every other
// key passes through.
class KeyEquivalentMonitor : public QObject {
    Q_OBJECT

public:
    struct Targets {
        // Whether the onboarding window is the active window, and its close (the close rule).
        std::function<bool()> isOnboardingKeyWindow;
        std::function<void()> closeOnboardingWindow;
        std::function<QWindow*()> logWindow;
        std::function<QWindow*()> mainWindow;
        // Hides the main window and turns the program back to the tray only.
        std::function<void()> hideMainWindow;
        // Permits and requests termination.
        std::function<void()> quit;
        // The active window (QGuiApplication::focusWindow by default).
        std::function<QWindow*()> keyWindow;
    };

    enum class Outcome {
        passThrough,
        closedOnboarding,
        closedLogWindow,
        hidMainWindow,
        closedOtherWindow,
        quit,
    };

    explicit KeyEquivalentMonitor(Targets targets, QObject* parent = nullptr);

    // The rule for one key press: the key (Qt::Key) and whether Control was held.
    Outcome handleKey(int key, bool control);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Targets targets_;
};
