// Day labels of the page as dates, relative to the export time (the test program runs in UTC),
// and byte counts as text.

#include "ConverterTestSupport.h"

#include "convert/MarkdownConverter.h"

#include <QTimeZone>

#include <gtest/gtest.h>

namespace {

const QString emptyPage = QStringLiteral("<html><body></body></html>");

TEST(FormatDate, Cases)
{
    struct Case {
        QDateTime exported;
        const char* label;
        const char* result;
    };
    const QDateTime thursday(QDate(2025, 1, 2), QTime(10, 0));      // 2 Jan 2025
    const QDateTime monday(QDate(2025, 1, 6), QTime(8, 30));        // 6 Jan 2025
    const QDateTime april(QDate(2025, 4, 1), QTime(12, 0));
    const QDateTime leapDay(QDate(2024, 3, 1), QTime(0, 15));
    const Case cases[] = {
        { thursday, "Today", "2 Jan 2025" },
        { thursday, "  today\n", "2 Jan 2025" },
        { thursday, "Yesterday", "1 Jan 2025" },
        { leapDay, "yesterday", "29 Feb 2024" },
        { monday, "Monday", "30 Dec 2024" },            // today's weekday means a week ago
        { monday, "Tuesday", "31 Dec 2024" },
        { monday, "Sunday", "5 Jan 2025" },
        { thursday, "WEDNESDAY", "1 Jan 2025" },
        { thursday, "Friday", "27 Dec 2024" },
        { thursday, "Dec 31", "31 Dec 2024" },          // a December label read in January
        { thursday, "Jan 2", "2 Jan 2025" },            // the export day itself is not in the future
        { thursday, "Jan 3", "3 Jan 2024" },
        { april, "Mar 5", "5 Mar 2025" },
        { april, "Apr 30", "30 Apr 2024" },
        { thursday, "Earlier", "Earlier" },
        { thursday, "Feb 30", "Feb 30" },
        { thursday, "March", "March" },
    };
    for (const Case& c : cases) {
        MarkdownConverter converter(emptyPage, std::nullopt, c.exported);
        EXPECT_EQ(converter.formatDate(QString::fromLatin1(c.label)).toStdString(), c.result)
            << c.label << " exported " << c.exported.toString(Qt::ISODate).toStdString();
    }
}

TEST(FormatDate, OutputIsEnglishDayMonthYear)
{
    EXPECT_EQ(MarkdownConverter::formatDateOutput(QDateTime(QDate(2024, 3, 5), QTime(23, 59))),
        QStringLiteral("5 Mar 2024"));
    // Written in the local zone (UTC here), whatever zone the time was given in.
    EXPECT_EQ(MarkdownConverter::formatDateOutput(
                  QDateTime(QDate(2024, 3, 5), QTime(23, 30), QTimeZone(QByteArrayLiteral("Asia/Tokyo")))),
        QStringLiteral("5 Mar 2024"));
    EXPECT_EQ(MarkdownConverter::formatDateOutput(
                  QDateTime(QDate(2024, 3, 5), QTime(23, 30), QTimeZone(QByteArrayLiteral("America/New_York")))),
        QStringLiteral("6 Mar 2024"));
}

TEST(FormatBytes, Cases)
{
    struct Case {
        qint64 bytes;
        const char* text;
    };
    const Case cases[] = {
        { 0, "0 B" },
        { 1023, "1023 B" },
        { 1024, "1.0 KB" },
        { 1536, "1.5 KB" },
        { 1048576, "1.00 MB" },
        { 5 * 1048576 + 524288, "5.50 MB" },
        { 1073741824, "1.00 GB" },
        { 3LL * 1073741824, "3.00 GB" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MarkdownConverter::formatBytes(c.bytes).toStdString(), c.text) << c.bytes;
    }
}

} // namespace
