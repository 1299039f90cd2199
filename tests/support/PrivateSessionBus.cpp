#include "support/PrivateSessionBus.h"

#include <QByteArray>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

bool PrivateSessionBus::start()
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) {
        return false;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        ::close(pipeFds[0]);
        // The daemon's complaints (it may not raise its file limit) are not the test's output.
        if (const int devNull = ::open("/dev/null", O_WRONLY); devNull >= 0) {
            ::dup2(devNull, STDERR_FILENO);
            ::close(devNull);
        }
        const std::string printAddress = "--print-address=" + std::to_string(pipeFds[1]);
        ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--nopidfile", printAddress.c_str(),
            static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    QByteArray line;
    char c = 0;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') {
        line.append(c);
    }
    ::close(pipeFds[0]);
    if (line.isEmpty()) {
        ::kill(child, SIGTERM);
        ::waitpid(child, nullptr, 0);
        return false;
    }
    pid_ = child;
    address_ = QString::fromUtf8(line);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", line.constData(), 1);
    return true;
}

PrivateSessionBus::~PrivateSessionBus()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
}

} // namespace testsupport
