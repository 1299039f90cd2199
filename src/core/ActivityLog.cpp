#include "core/ActivityLog.h"

#include "core/Dispatch.h"

#include <QCoreApplication>

ActivityLog& ActivityLog::shared()
{
    static ActivityLog instance;
    return instance;
}

void ActivityLog::setSink(Sink sink)
{
    std::lock_guard lock(mutex_);
    sink_ = std::move(sink);
}

bool ActivityLog::hasSink() const
{
    std::lock_guard lock(mutex_);
    return static_cast<bool>(sink_);
}

QString ActivityLog::lineWithStamp(QStringView stamp, const QString& message)
{
    const bool lineFeed = !message.endsWith(QLatin1Char('\n'));
    QString line;
    line.reserve(stamp.size() + message.size() + 3 + (lineFeed ? 1 : 0));
    line += QLatin1Char('[');
    line += stamp;
    line += QLatin1String("] ");
    line += message;
    if (lineFeed) {
        line += QLatin1Char('\n');
    }
    return line;
}

QString ActivityLog::formatLine(const QString& message, const QDateTime& localTime)
{
    return lineWithStamp(localTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), message);
}

QString ActivityLog::stampedLine(const QString& message) const
{
    QChar stamp[LocalTimeStamp::capacity];
    return lineWithStamp(QStringView(stamp, stamp_.write(stamp)), message);
}

void ActivityLog::append(const QString& message)
{
    if (!hasSink() || QCoreApplication::instance() == nullptr) {
        return; // no log window, or no event loop to hand the line to
    }
    QString line = stampedLine(message);
    bool post = false;
    {
        std::lock_guard lock(mutex_);
        pending_.push_back(std::move(line));
        post = !deliveryPosted_;
        deliveryPosted_ = true;
    }
    // One delivery takes every line appended until it runs: a busy thread writing thousands
    // of lines wakes the main thread once per batch, not once per line.
    if (post) {
        dispatchMainAsync([this] { deliverPending(); });
    }
}

void ActivityLog::deliverPending()
{
    std::vector<QString> lines;
    Sink sink;
    {
        std::lock_guard lock(mutex_);
        lines.swap(pending_);
        deliveryPosted_ = false;
        sink = sink_;
    }
    if (!sink) {
        return;
    }
    for (const QString& line : lines) {
        sink(line);
    }
}
