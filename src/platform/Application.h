#pragma once

#include "platform/ActivationPolicy.h"

class ApplicationDelegate;
class QWindow;

// The shared application's platform calls: the terminate request, the activation policy and
// bringing the program forward. Main thread only.
class Application {
public:
    static void setDelegate(ApplicationDelegate* delegate);
    static ApplicationDelegate* delegate();

    // Asks the delegate; ends the event loop when it answers terminate-now (or when there is
    // no delegate).
    static void requestTerminate();
    // Ends the event loop whatever the delegate says (signals, the session's logout).
    static void terminateNow();

    static void setActivationPolicy(ActivationPolicy policy);
    static ActivationPolicy activationPolicy();

    // Raises and activates the program's visible top-level windows; best effort, as the
    // window manager decides.
    static void activateIgnoringOtherApps();
    // Raises one window and asks for its activation.
    static void bringForward(QWindow* window);

    // False on the headless platforms (offscreen, minimal): no tray and no stacking order, and
    // Qt warns on every use of either there.
    static bool hasWindowSystem();

private:
    static ApplicationDelegate* delegate_;
    static ActivationPolicy policy_;
};
