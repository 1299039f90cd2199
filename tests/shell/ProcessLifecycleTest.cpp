// The real program as users start it: a second launch hands its link to the running one, and
// the signals the session sends end it cleanly.

#include "platform/DesktopIntegration.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>

using namespace std::chrono_literals;

namespace {

// Starts the program on this test's private bus and temporary folders, headless.
class RunningProgram {
public:
    explicit RunningProgram(const QStringList& arguments = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // In a sanitizer build the program's exit is checked for leaks; Qt Quick's own image
        // cache (the onboarding window) is suppressed by name, which needs the full unwinder.
        // (Other builds ignore both variables.)
        const QString asan = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
            (asan.isEmpty() ? QString() : asan + QLatin1Char(':')) + QStringLiteral("fast_unwind_on_malloc=0"));
        if (!environment.contains(QStringLiteral("LSAN_OPTIONS"))) {
            environment.insert(QStringLiteral("LSAN_OPTIONS"), QStringLiteral("suppressions=" MOSSBRIDGE_SOURCE_DIR "/.ci/lsan.supp"));
        }
        process_.setProcessEnvironment(environment);
        process_.setProcessChannelMode(QProcess::SeparateChannels);
        process_.start(QStringLiteral(MOSSBRIDGE_APP_PATH), arguments);
    }
    ~RunningProgram()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished();
        }
    }

    bool waitForLog(const QString& fragment, std::chrono::milliseconds timeout = 20s)
    {
        return testsupport::waitUntil(
            [&] {
                stderr_ += process_.readAllStandardError();
                return QString::fromUtf8(stderr_).contains(fragment);
            },
            timeout);
    }

    bool waitForExit(std::chrono::milliseconds timeout = 20s)
    {
        return testsupport::waitUntil([&] { return process_.state() == QProcess::NotRunning; }, timeout);
    }

    QProcess& process() { return process_; }
    // Everything it wrote to standard error so far.
    QString standardError()
    {
        stderr_ += process_.readAllStandardError();
        return QString::fromUtf8(stderr_);
    }

private:
    QProcess process_;
    QByteArray stderr_;
};

bool nameIsOwned()
{
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("app.mossbridge.Mossbridge"));
}

} // namespace

TEST(ProcessLifecycle, ASecondLaunchHandsItsLinkToTheFirstAndEnds)
{
    RunningProgram first;
    ASSERT_TRUE(first.waitForLog(QStringLiteral("Waiting for extension communication...")));
    ASSERT_TRUE(testsupport::waitUntil(nameIsOwned));

    RunningProgram second({QStringLiteral("mossbridge://ping")});
    ASSERT_TRUE(second.waitForExit());
    EXPECT_EQ(second.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process().exitCode(), 0);
    EXPECT_TRUE(first.waitForLog(QStringLiteral("] Launched via URL scheme: mossbridge://ping\n")));
    EXPECT_EQ(first.process().state(), QProcess::Running);
}

TEST(ProcessLifecycle, TheSessionsSignalsEndTheProgramCleanly)
{
    for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signalNumber);
        RunningProgram program;
        ASSERT_TRUE(program.waitForLog(QStringLiteral("Waiting for extension communication...")));
        ASSERT_TRUE(testsupport::waitUntil(nameIsOwned));
        ::kill(static_cast<pid_t>(program.process().processId()), signalNumber);
        ASSERT_TRUE(program.waitForExit());
        EXPECT_EQ(program.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.process().exitCode(), 0);
        // The name goes with the process, so the next launch starts afresh.
        EXPECT_TRUE(testsupport::waitUntil([] { return !nameIsOwned(); }));
    }
}

TEST(ProcessLifecycle, AHeadlessStartPrintsOnlyItsLogAndRegistersTheRunningProgram)
{
    // No vault is set, so the onboarding window opens too (and is brought forward).
    RunningProgram program;
    ASSERT_TRUE(program.waitForLog(QStringLiteral("] Registered URL handler for mossbridge://\n")));
    testsupport::processEventsFor(300ms);
    ::kill(static_cast<pid_t>(program.process().processId()), SIGTERM);
    ASSERT_TRUE(program.waitForExit());

    // Each line is an activity-log line: no toolkit warning in between.
    const QRegularExpression logLine(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] "));
    for (const QString& line : program.standardError().split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        EXPECT_TRUE(logLine.match(line).hasMatch()) << line.toStdString();
    }

    QFile entry(DesktopIntegration::applicationsFolder() + QLatin1Char('/') + DesktopIntegration::desktopFileName());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString exec = DesktopIntegration::quoteExecArgument(QFileInfo(QStringLiteral(MOSSBRIDGE_APP_PATH)).canonicalFilePath());
    EXPECT_TRUE(QString::fromUtf8(entry.readAll()).contains(QStringLiteral("\nExec=") + exec + QStringLiteral(" %u\n")));
}
