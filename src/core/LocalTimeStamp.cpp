#include "core/LocalTimeStamp.h"

#include <QByteArrayView>
#include <QDateTime>
#include <QHash>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>

namespace {

std::atomic<quint64> nextId {1};

// The stamp each thread last wrote, with the second and zone it was written for.
struct CachedStamp {
    quint64 owner = 0;
    qint64 second = 0;
    quint64 zone = 0;
    qsizetype size = 0;
    QChar text[LocalTimeStamp::capacity];
};
thread_local CachedStamp cached;

qint64 floorDiv(qint64 value, qint64 divisor)
{
    const qint64 quotient = value / divisor;
    return (value % divisor != 0 && value < 0) ? quotient - 1 : quotient;
}

QChar* writeNumber(QChar* out, int value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = QChar(u'0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

} // namespace

LocalTimeStamp::Source LocalTimeStamp::system()
{
    Source source;
    source.utcMSecs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    // The C library takes its zone from TZ when it is set; otherwise from the system zone file,
    // whose replacement the offset looked up at the next second picks up. TZ is read without the
    // lock Qt takes around its own reads of the environment: from several threads that lock costs
    // more than the rest of the line, and the program sets no variable once its threads run.
    source.zoneKey = []() -> quint64 {
        const char* tz = std::getenv("TZ");
        return tz == nullptr ? 0 : (quint64(qHash(QByteArrayView(tz))) << 1) | 1;
    };
    source.offsetFromUtc = [](qint64 utcSecs) {
        return QDateTime::fromSecsSinceEpoch(utcSecs, Qt::LocalTime).offsetFromUtc();
    };
    return source;
}

LocalTimeStamp::LocalTimeStamp(Source source)
    : source_(std::move(source))
    , id_(nextId.fetch_add(1))
{
}

qsizetype LocalTimeStamp::write(QChar* out) const
{
    const qint64 second = floorDiv(source_.utcMSecs(), 1000);
    // The key is read before the offset: a zone that changes in between is looked up again at
    // the next stamp, never kept under the new key with the old offset.
    const quint64 zone = source_.zoneKey();
    if (cached.owner != id_ || cached.second != second || cached.zone != zone) {
        cached.size = format(second + source_.offsetFromUtc(second), cached.text);
        cached.owner = id_;
        cached.second = second;
        cached.zone = zone;
    }
    std::copy_n(cached.text, cached.size, out);
    return cached.size;
}

QString LocalTimeStamp::now() const
{
    QChar text[capacity];
    return QString(text, write(text));
}

qsizetype LocalTimeStamp::format(qint64 localSecs, QChar* out)
{
    using namespace std::chrono;
    const qint64 day = floorDiv(localSecs, 86400);
    const year_month_day date {sys_days {days {day}}};
    const int year = int(date.year());
    if (year < 1 || year > 9999) {
        // Years the four digits cannot hold, or before the first, as Qt writes them.
        const QString text = QDateTime::fromSecsSinceEpoch(localSecs, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const qsizetype size = std::min(text.size(), capacity);
        std::copy_n(text.constData(), size, out);
        return size;
    }
    const int secondOfDay = int(localSecs - day * 86400);
    out = writeNumber(out, year, 4);
    *out++ = u'-';
    out = writeNumber(out, int(unsigned(date.month())), 2);
    *out++ = u'-';
    out = writeNumber(out, int(unsigned(date.day())), 2);
    *out++ = u' ';
    out = writeNumber(out, secondOfDay / 3600, 2);
    *out++ = u':';
    out = writeNumber(out, secondOfDay / 60 % 60, 2);
    *out++ = u':';
    writeNumber(out, secondOfDay % 60, 2);
    return 19;
}
