#include "shell/KeyEquivalentMonitor.h"

#include <QWindow>

#include <gtest/gtest.h>

namespace {

struct Desk {
    QWindow log;
    QWindow main;
    QWindow other;
    QWindow* key = nullptr;
    bool onboardingKey = false;
    QStringList done;

    KeyEquivalentMonitor::Targets targets()
    {
        KeyEquivalentMonitor::Targets t;
        t.isOnboardingKeyWindow = [this] { return onboardingKey; };
        t.closeOnboardingWindow = [this] { done.append(QStringLiteral("onboarding close rule")); };
        t.logWindow = [this] { return &log; };
        t.mainWindow = [this] { return &main; };
        t.hideMainWindow = [this] { done.append(QStringLiteral("main hidden")); };
        t.quit = [this] { done.append(QStringLiteral("quit")); };
        t.keyWindow = [this] { return key; };
        return t;
    }
};

} // namespace

TEST(KeyEquivalentMonitor, CtrlWClosesTheKeyWindowByItsRuleAndCtrlQQuits)
{
    using Outcome = KeyEquivalentMonitor::Outcome;
    enum class Key { none, onboarding, log, main, other };
    const struct {
        const char* name;
        int key;
        bool control;
        Key keyWindow;
        Outcome outcome;
        QStringList done;
    } cases[] = {
        {"W without Control", Qt::Key_W, false, Key::main, Outcome::passThrough, {}},
        {"Ctrl+E is not ours", Qt::Key_E, true, Key::main, Outcome::passThrough, {}},
        {"Ctrl+W with no key window", Qt::Key_W, true, Key::none, Outcome::passThrough, {}},
        {"Ctrl+W on onboarding", Qt::Key_W, true, Key::onboarding, Outcome::closedOnboarding, {"onboarding close rule"}},
        {"Ctrl+W on the log", Qt::Key_W, true, Key::log, Outcome::closedLogWindow, {}},
        {"Ctrl+W on the main window", Qt::Key_W, true, Key::main, Outcome::hidMainWindow, {"main hidden"}},
        {"Ctrl+W on another window", Qt::Key_W, true, Key::other, Outcome::closedOtherWindow, {}},
        {"Ctrl+Q", Qt::Key_Q, true, Key::none, Outcome::quit, {"quit"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Desk desk;
        desk.onboardingKey = c.keyWindow == Key::onboarding;
        desk.key = c.keyWindow == Key::log ? &desk.log
            : c.keyWindow == Key::main     ? &desk.main
            : c.keyWindow == Key::other || c.keyWindow == Key::onboarding ? &desk.other
                                                                          : nullptr;
        desk.log.show();
        desk.other.show();
        KeyEquivalentMonitor monitor(desk.targets());
        EXPECT_EQ(monitor.handleKey(c.key, c.control), c.outcome);
        EXPECT_EQ(desk.done, c.done);
        // Only the rule's own window is closed.
        EXPECT_EQ(desk.log.isVisible(), c.outcome != Outcome::closedLogWindow);
        EXPECT_EQ(desk.other.isVisible(), c.outcome != Outcome::closedOtherWindow);
    }
}
