#pragma once

#include <QChar>
#include <QString>
#include <QtGlobal>

#include <functional>

// The local time as activity-log lines show it, "yyyy-MM-dd HH:mm:ss". Converting a moment to
// local time takes Qt's time-zone lock and has the C library look at the zone file again, which
// from several threads costs microseconds a line. So each thread asks the zone for its offset
// from UTC only when the clock has moved to another second, or the zone's key says another zone
// has come into force, writes the digits itself and keeps them for the rest of that second.
// Asking once a second makes the change of a minute, of a day or of a daylight-saving offset need
// no rule of its own, and a system zone file replaced while the program runs is seen within a
// second.
class LocalTimeStamp {
public:
    // What the stamp reads. system() is the program's: Qt's clock, the C library's local time and
    // the TZ variable; tests give a clock and a zone of their own.
    struct Source {
        std::function<qint64()> utcMSecs; // now, in milliseconds since 1970-01-01 00:00 UTC
        // Changes whenever another zone comes into force; read for every stamp, so it must be cheap.
        std::function<quint64()> zoneKey;
        // The zone's local time minus UTC at that moment (seconds since 1970 UTC), in seconds.
        std::function<int(qint64 utcSecs)> offsetFromUtc;
    };
    static Source system();

    // Room for any stamp: 19 characters, more only for years past 9999 or before 1.
    static constexpr qsizetype capacity = 32;

    explicit LocalTimeStamp(Source source = system());

    // Writes the stamp of the current moment into `out` (`capacity` characters of room) and
    // returns its length. Any thread.
    qsizetype write(QChar* out) const;
    QString now() const;

    // The same for a wall-clock time given as seconds since 1970 as though it were UTC.
    static qsizetype format(qint64 localSecs, QChar* out);

private:
    Source source_;
    quint64 id_; // tells this stamp's entries in the threads' caches from another's
};
