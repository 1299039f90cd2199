#include "core/ActivityLog.h"

#include "core/Dispatch.h"

#include <QLocale>

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

QString ActivityLog::formatLine(const QString& message, const QDateTime& localTime)
{
    QString line = QLatin1Char('[') + localTime.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
        + QStringLiteral("] ") + message;
    if (!line.endsWith(QLatin1Char('\n'))) {
        line += QLatin1Char('\n');
    }
    return line;
}

QString ActivityLog::stampedLine(const QString& message) const
{
    return formatLine(message, QDateTime::currentDateTime());
}

void ActivityLog::append(const QString& message)
{
    if (!hasSink()) {
        return;
    }
    const QString line = stampedLine(message);
    dispatchMainAsync([this, line] {
        Sink sink;
        {
            std::lock_guard lock(mutex_);
            sink = sink_;
        }
        if (sink) {
            sink(line);
        }
    });
}
