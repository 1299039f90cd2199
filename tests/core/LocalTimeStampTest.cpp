#include "core/LocalTimeStamp.h"

#include "support/TestSupport.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

// A clock and a zone the test sets; each change of zone gives it a new key, as a change of TZ
// does for the program's own.
struct FakeTime {
    qint64 msecs = 0;
    QTimeZone zone {QTimeZone::utc()};
    quint64 key = 1;
    int lookups = 0;

    void setZone(const char* id)
    {
        zone = QTimeZone(QByteArray(id));
        ASSERT_TRUE(zone.isValid()) << id;
        ++key;
    }

    LocalTimeStamp::Source source()
    {
        return {[this] { return msecs; }, [this] { return key; },
            [this](qint64 utcSecs) {
                ++lookups;
                return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utcSecs, Qt::UTC));
            }};
    }
};

qint64 utcMSecs(const char* iso)
{
    const QDateTime time = QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
    EXPECT_TRUE(time.isValid()) << iso;
    return time.toMSecsSinceEpoch();
}

struct Step {
    const char* utc;
    const char* zone; // the zone from this step on; nullptr keeps the one before
    const char* stamp;
};

struct StampCase {
    const char* name;
    std::vector<Step> steps;
};

// Each case runs its steps through one stamp, in order, as a running program would meet them.
TEST(LocalTimeStamp, StaysRightAcrossMinutesOffsetsAndZones)
{
    const StampCase cases[] = {
        {"a new minute", {
            {"2025-03-05T13:59:59.999Z", "Europe/Berlin", "2025-03-05 14:59:59"},
            {"2025-03-05T14:00:00.000Z", nullptr, "2025-03-05 15:00:00"},
        }},
        {"a new year at local midnight", {
            {"2024-12-31T14:59:59.500Z", "Asia/Tokyo", "2024-12-31 23:59:59"},
            {"2024-12-31T15:00:00.000Z", nullptr, "2025-01-01 00:00:00"},
        }},
        {"the leap day", {
            {"2024-02-28T23:59:59Z", "UTC", "2024-02-28 23:59:59"},
            {"2024-02-29T00:00:00Z", nullptr, "2024-02-29 00:00:00"},
            {"2024-02-29T23:59:59Z", nullptr, "2024-02-29 23:59:59"},
            {"2024-03-01T00:00:00Z", nullptr, "2024-03-01 00:00:00"},
        }},
        {"summer time begins", {
            {"2025-03-30T00:59:59Z", "Europe/Berlin", "2025-03-30 01:59:59"},
            {"2025-03-30T01:00:00Z", nullptr, "2025-03-30 03:00:00"},
        }},
        {"summer time ends and an hour repeats", {
            {"2025-10-26T00:59:59Z", "Europe/Berlin", "2025-10-26 02:59:59"},
            {"2025-10-26T01:00:00Z", nullptr, "2025-10-26 02:00:00"},
        }},
        {"summer time ends half an hour back", {
            {"2025-04-05T14:59:59Z", "Australia/Lord_Howe", "2025-04-06 01:59:59"},
            {"2025-04-05T15:00:00Z", nullptr, "2025-04-06 01:30:00"},
        }},
        {"an offset of three quarters of an hour", {
            {"2025-03-05T08:14:59Z", "Asia/Kathmandu", "2025-03-05 13:59:59"},
            {"2025-03-05T08:15:00Z", nullptr, "2025-03-05 14:00:00"},
        }},
        {"an offset of whole seconds ends", {
            {"1972-01-07T00:44:29Z", "Africa/Monrovia", "1972-01-06 23:59:59"},
            {"1972-01-07T00:44:30Z", nullptr, "1972-01-07 00:44:30"},
        }},
        {"another zone within the same second", {
            {"2025-03-05T13:07:09.100Z", "Europe/Berlin", "2025-03-05 14:07:09"},
            {"2025-03-05T13:07:09.200Z", "America/New_York", "2025-03-05 08:07:09"},
            {"2025-03-05T13:07:09.300Z", "Europe/Berlin", "2025-03-05 14:07:09"},
        }},
        {"the clock steps back", {
            {"2025-03-05T14:00:05Z", "UTC", "2025-03-05 14:00:05"},
            {"2025-03-05T13:59:58Z", nullptr, "2025-03-05 13:59:58"},
        }},
        {"before 1970", {
            {"1969-12-31T23:59:59.500Z", "UTC", "1969-12-31 23:59:59"},
            {"1970-01-01T00:00:00.000Z", nullptr, "1970-01-01 00:00:00"},
        }},
        {"years of fewer and more than four digits", {
            {"0999-12-31T23:59:59Z", "UTC", "0999-12-31 23:59:59"},
            {"9999-12-31T23:59:59Z", nullptr, "9999-12-31 23:59:59"},
        }},
    };
    for (const StampCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeTime time;
        const LocalTimeStamp stamp(time.source());
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.utc);
            if (step.zone != nullptr) {
                time.setZone(step.zone);
            }
            time.msecs = utcMSecs(step.utc);
            EXPECT_EQ(stamp.now(), QString::fromLatin1(step.stamp));
        }
    }
}

// Past four digits the stamp is written as Qt writes the year.
TEST(LocalTimeStamp, YearsPastFourDigitsAreWrittenWhole)
{
    FakeTime time;
    const LocalTimeStamp stamp(time.source());
    time.msecs = QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch();
    EXPECT_EQ(stamp.now(), QStringLiteral("10000-01-01 00:00:00"));
}

// The point of the stamp: the zone is asked once a second, not once a line.
TEST(LocalTimeStamp, AsksTheZoneOnceASecondAndAgainWhenItChanges)
{
    FakeTime time;
    const LocalTimeStamp stamp(time.source());
    time.msecs = utcMSecs("2025-03-05T13:07:09.000Z");
    for (int i = 0; i < 100; ++i) {
        stamp.now();
        time.msecs += 9;
    }
    EXPECT_EQ(time.lookups, 1);
    time.msecs = utcMSecs("2025-03-05T13:07:10.000Z");
    stamp.now();
    EXPECT_EQ(time.lookups, 2);
    time.setZone("Asia/Tokyo");
    EXPECT_EQ(stamp.now(), QStringLiteral("2025-03-05 22:07:10"));
    EXPECT_EQ(time.lookups, 3);
}

// Each thread keeps its own stamp of the second; two stamps on one thread keep theirs apart.
TEST(LocalTimeStamp, ThreadsAndStampsKeepTheirOwnZones)
{
    FakeTime berlin;
    berlin.setZone("Europe/Berlin");
    FakeTime tokyo;
    tokyo.setZone("Asia/Tokyo");
    berlin.msecs = tokyo.msecs = utcMSecs("2025-03-05T13:07:09.000Z");
    const LocalTimeStamp inBerlin(berlin.source());
    const LocalTimeStamp inTokyo(tokyo.source());
    std::vector<std::thread> threads;
    std::vector<QStringList> seen(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                seen[t] << inBerlin.now() << inTokyo.now();
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const QStringList& lines : seen) {
        ASSERT_EQ(lines.size(), 400);
        for (qsizetype i = 0; i < lines.size(); i += 2) {
            ASSERT_EQ(lines[i], QStringLiteral("2025-03-05 14:07:09"));
            ASSERT_EQ(lines[i + 1], QStringLiteral("2025-03-05 22:07:09"));
        }
    }
}

// The program's own stamp reads TZ for every line, so a change shows on the very next one.
TEST(LocalTimeStamp, TheSystemStampFollowsAChangeOfTZAtOnce)
{
    const bool hadTZ = qEnvironmentVariableIsSet("TZ");
    const QByteArray savedTZ = qgetenv("TZ");
    const LocalTimeStamp stamp;
    for (const char* zone : {"Asia/Tokyo", "America/New_York", "Asia/Tokyo", "Australia/Lord_Howe", "UTC"}) {
        SCOPED_TRACE(zone);
        qputenv("TZ", zone);
        // Compared with Qt's own text of the moment, within one second.
        bool compared = false;
        for (int attempt = 0; attempt < 5 && !compared; ++attempt) {
            const QString before = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            const QString now = stamp.now();
            const QString after = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
            if (before == after) {
                EXPECT_EQ(now, before);
                compared = true;
            }
        }
        EXPECT_TRUE(compared);
    }
    if (hadTZ) {
        qputenv("TZ", savedTZ);
    } else {
        qunsetenv("TZ");
    }
}

} // namespace
