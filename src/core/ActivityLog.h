#pragma once

#include "core/LocalTimeStamp.h"

#include <QDateTime>
#include <QString>
#include <QStringView>

#include <functional>
#include <mutex>
#include <vector>

// The one activity log every component writes through. Lines are formatted on the
// calling thread and handed to the sink on the main thread, in the order they were
// appended. Until a sink is installed (the log window does not exist yet) lines are dropped.
class ActivityLog {
public:
    using Sink = std::function<void(const QString& line)>;

    static ActivityLog& shared();

    // Installs the receiver of formatted lines; an empty sink drops lines again.
    void setSink(Sink sink);
    bool hasSink() const;

    // Callable from any thread.
    void append(const QString& message);

    // "[yyyy-MM-dd HH:mm:ss] " + message, with a line feed unless it already ends in one.
    static QString formatLine(const QString& message, const QDateTime& localTime);
    // The line append() hands on: formatLine() at the current local time. Any thread.
    QString stampedLine(const QString& message) const;

private:
    ActivityLog() = default;

    static QString lineWithStamp(QStringView stamp, const QString& message);
    // Main thread: hands the lines appended so far to the sink, in order.
    void deliverPending();

    mutable std::mutex mutex_;
    Sink sink_;
    std::vector<QString> pending_; // appended, not yet handed on; guarded by mutex_
    bool deliveryPosted_ = false; // a delivery is queued on the main thread; guarded by mutex_
    LocalTimeStamp stamp_;
};

// Shorthand for ActivityLog::shared().append(message).
inline void appendLog(const QString& message)
{
    ActivityLog::shared().append(message);
}
