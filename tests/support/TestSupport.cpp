#include "support/TestSupport.h"

#include "core/ActivityLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace testsupport {

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count()) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void processEventsFor(std::chrono::milliseconds duration)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < duration.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

QString fixturePath(const QString& relative)
{
    return QStringLiteral(MOSSBRIDGE_FIXTURES_DIR) + QLatin1Char('/') + relative;
}

QString readFixture(const QString& relative)
{
    QFile file(fixturePath(relative));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

QString repeated(const QString& unit, int times)
{
    return unit.repeated(times);
}

QByteArray repeated(const QByteArray& unit, int times)
{
    return unit.repeated(times);
}

LogRecorder::LogRecorder()
{
    ActivityLog::shared().setSink([this](const QString& line) {
        // Drop "[yyyy-MM-dd HH:mm:ss] " and the trailing line feed.
        QString message = line.mid(22);
        if (message.endsWith(QLatin1Char('\n'))) {
            message.chop(1);
        }
        std::lock_guard lock(mutex_);
        lines_.append(message);
    });
}

LogRecorder::~LogRecorder()
{
    ActivityLog::shared().setSink({});
    // Lines already queued for the sink find it empty and are dropped.
}

QStringList LogRecorder::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

bool LogRecorder::contains(const QString& fragment) const
{
    return count(fragment) > 0;
}

int LogRecorder::count(const QString& fragment) const
{
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const QString& line : lines_) {
        if (line.contains(fragment)) {
            ++n;
        }
    }
    return n;
}

bool LogRecorder::waitFor(const QString& fragment, std::chrono::milliseconds timeout)
{
    return waitUntil([&] { return contains(fragment); }, timeout);
}

void LogRecorder::clear()
{
    std::lock_guard lock(mutex_);
    lines_.clear();
}

} // namespace testsupport
