#pragma once

#include <QString>

#include <sys/types.h>

namespace testsupport {

// A session bus of this test process's own (a dbus-daemon child), so that services a test
// registers, and programs it starts, never meet those of other tests running at the same time.
class PrivateSessionBus {
public:
    PrivateSessionBus() = default;
    ~PrivateSessionBus();

    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Starts the daemon and points DBUS_SESSION_BUS_ADDRESS at it; false when there is no
    // dbus-daemon (the variable is then left as it was).
    bool start();
    QString address() const { return address_; }

private:
    pid_t pid_ = -1;
    QString address_;
};

} // namespace testsupport
