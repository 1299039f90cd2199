#pragma once

// The application object's delegate: decides whether a terminate request ends the program.
// The shell installs one; windows that want the program to end (the onboarding close rule)
// go through Application::requestTerminate().
class ApplicationDelegate {
public:
    enum class TerminateReply {
        terminateNow,
        terminateCancel,
    };

    virtual ~ApplicationDelegate() = default;

    virtual TerminateReply applicationShouldTerminate() = 0;
    // Lets the next terminate request through (the quit item, Ctrl+Q, the onboarding close rule).
    virtual void setAllowTerminateFromMenu(bool allow) = 0;
};
