// Every process of this test program gets a session bus of its own, started before main (so
// before Qt first connects): the tests register org.freedesktop.FileManager1, a name that
// test processes running side by side on one shared bus would fight over.

#include <csignal>
#include <cstdlib>
#include <string>

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class PrivateSessionBus {
public:
    PrivateSessionBus()
    {
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(fds[0]);
            const std::string printAddress = "--print-address=" + std::to_string(fds[1]);
            ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", printAddress.c_str(),
                static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        if (pid_ < 0) {
            ::close(fds[0]);
            return;
        }
        // The daemon writes its address once it listens, ending it with a line feed.
        std::string address;
        char c = 0;
        while (::read(fds[0], &c, 1) == 1 && c != '\n') {
            address.push_back(c);
        }
        ::close(fds[0]);
        if (address.empty()) {
            stop();
            return;
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    ~PrivateSessionBus() { stop(); }

private:
    void stop()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = 0;
        }
    }

    pid_t pid_ = 0;
};

const PrivateSessionBus bus;

} // namespace
