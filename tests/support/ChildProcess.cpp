#include "support/ChildProcess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

namespace testsupport {

namespace {

QString systemError(const char* what)
{
    return QString::fromLatin1(what) + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += n;
    }
    return true;
}

[[noreturn]] void finishChild(int fd, const std::function<QJsonObject()>& body)
{
    QJsonObject report;
    try {
        report = body();
    } catch (const std::exception& error) {
        report = {{QStringLiteral("childException"), QString::fromUtf8(error.what())}};
    }
    const bool sent = writeAll(fd, QJsonDocument(report).toJson(QJsonDocument::Compact));
    // No exit handlers: the parent's test framework and leak checks are not the child's.
    ::_exit(sent ? 0 : 3);
}

std::optional<QString> mountPrivateTmpfs(const QString& folder, qint64 bytes)
{
    if (::unshare(CLONE_NEWNS) != 0) {
        return systemError("unshare");
    }
    // Nothing mounted from here on may reach the parent's mount namespace.
    if (::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return systemError("mount --make-rprivate /");
    }
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
    if (::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", MS_NOSUID | MS_NODEV, options.constData()) != 0) {
        return systemError("mount tmpfs");
    }
    return std::nullopt;
}

bool fillLeaving(const QString& folder, qint64 freeBytes)
{
    const auto available = [&folder]() -> qint64 {
        struct statvfs info{};
        if (::statvfs(QFile::encodeName(folder).constData(), &info) != 0) {
            return -1;
        }
        return static_cast<qint64>(info.f_bavail) * static_cast<qint64>(info.f_frsize);
    };
    qint64 toFill = available() - freeBytes;
    if (toFill < 0) {
        return false;
    }
    QFile filler(folder + QStringLiteral("/filler"));
    if (!filler.open(QIODevice::WriteOnly)) {
        return false;
    }
    const QByteArray block(64 * 1024, 'f');
    while (toFill > 0) {
        const qint64 n = std::min<qint64>(toFill, block.size());
        if (filler.write(block.constData(), n) != n || !filler.flush()) {
            return false;
        }
        toFill -= n;
    }
    filler.close();
    return available() == freeBytes;
}

} // namespace

std::optional<QJsonObject> runInChild(const std::function<QJsonObject()>& body, std::chrono::seconds timeout)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        ADD_FAILURE() << systemError("pipe").toStdString();
        return std::nullopt;
    }
    std::fflush(nullptr); // or the child would print the parent's buffered output again
    const pid_t pid = ::fork();
    if (pid < 0) {
        ADD_FAILURE() << systemError("fork").toStdString();
        ::close(fds[0]);
        ::close(fds[1]);
        return std::nullopt;
    }
    if (pid == 0) {
        ::close(fds[0]);
        finishChild(fds[1], body);
    }
    ::close(fds[1]);

    QByteArray report;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd waiting{fds[0], POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            break;
        }
        char buffer[65536];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        report.append(buffer, n);
    }
    if (timedOut) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::close(fds[0]);

    if (timedOut) {
        ADD_FAILURE() << "the child process did not finish in " << timeout.count() << " s";
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "the child process " << (WIFSIGNALED(status) ? "died of signal " : "exited with ")
                      << (WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(report);
    if (!document.isObject()) {
        ADD_FAILURE() << "the child's report is not a JSON object: " << report.toStdString();
        return std::nullopt;
    }
    if (document.object().contains(QStringLiteral("childException"))) {
        ADD_FAILURE() << "the child threw: "
                      << document.object().value(QStringLiteral("childException")).toString().toStdString();
        return std::nullopt;
    }
    return document.object();
}

void limitFileSize(qint64 bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

void liftFileSizeLimit()
{
    rlimit limit{};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_FSIZE, &limit);
}

bool canMountTmpfs()
{
    static const bool can = [] {
        if (::geteuid() != 0) {
            return false;
        }
        QTemporaryDir dir;
        const std::optional<QJsonObject> report = runInChild([&dir] {
            const std::optional<QString> error = mountPrivateTmpfs(dir.path(), 64 * 1024);
            return QJsonObject{{QStringLiteral("mounted"), !error.has_value()}};
        });
        return report && report->value(QStringLiteral("mounted")).toBool();
    }();
    return can;
}

std::optional<QString> mountFullTmpfs(const QString& folder, qint64 bytes, const QMap<QString, QByteArray>& files,
    qint64 freeBytes)
{
    if (const auto error = mountPrivateTmpfs(folder, bytes)) {
        return error;
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QFile file(folder + QLatin1Char('/') + it.key());
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size() || !file.flush()) {
            return QStringLiteral("could not write ") + it.key();
        }
    }
    if (!fillLeaving(folder, freeBytes)) {
        return QStringLiteral("could not fill the tmpfs");
    }
    return std::nullopt;
}

QStringList deliveredLogLines(const LogRecorder& recorder)
{
    QCoreApplication::sendPostedEvents();
    return recorder.lines();
}

QStringList sortedStrings(const QJsonValue& array)
{
    QStringList strings;
    for (const QJsonValue& value : array.toArray()) {
        strings.append(value.toString());
    }
    strings.sort();
    return strings;
}

} // namespace testsupport
