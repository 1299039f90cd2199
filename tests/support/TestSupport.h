#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <mutex>

#include <ostream>

// Failure messages show Qt strings as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace testsupport {

// Runs the main thread's event loop until `done` holds or the time is up; returns `done()`.
bool waitUntil(const std::function<bool()>& done,
    std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Runs the event loop for a while (lets queued main-thread work happen).
void processEventsFor(std::chrono::milliseconds duration);

// Path of a file under tests/fixtures.
QString fixturePath(const QString& relative);
QString readFixture(const QString& relative);

// `unit` written `times` times in a row (long names, deeply nested pages).
QString repeated(const QString& unit, int times);
QByteArray repeated(const QByteArray& unit, int times);

// Collects activity-log lines (the messages, without the time stamp) while it lives.
class LogRecorder {
public:
    LogRecorder();
    ~LogRecorder();

    QStringList lines() const;
    bool contains(const QString& fragment) const;
    int count(const QString& fragment) const;
    // Waits (running the event loop) until a line containing `fragment` arrived.
    bool waitFor(const QString& fragment, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void clear();

private:
    mutable std::mutex mutex_;
    QStringList lines_;
};

} // namespace testsupport
