#include "ui/RelativeDateText.h"

#include <QLocale>

#include <unicode/calendar.h>
#include <unicode/locid.h>
#include <unicode/reldatefmt.h>
#include <unicode/unistr.h>

#include <memory>

namespace {

constexpr qint64 kJustNowSeconds = 60;

QByteArray icuLocaleName()
{
    const QLocale locale;
    // The C locale has no phrases of its own; English is what it reads as everywhere else.
    if (locale.language() == QLocale::C) {
        return QByteArrayLiteral("en_US");
    }
    return locale.name().toLatin1();
}

// Formatter and calendar for the current locale, made again only when the locale changes.
struct IcuTools {
    QByteArray localeName;
    std::unique_ptr<icu::RelativeDateTimeFormatter> formatter;
    std::unique_ptr<icu::Calendar> calendar;
};

IcuTools* toolsFor(const QByteArray& localeName)
{
    thread_local IcuTools tools;
    if (tools.formatter && tools.localeName == localeName) {
        return &tools;
    }
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale(localeName.constData());
    auto formatter = std::make_unique<icu::RelativeDateTimeFormatter>(
        locale, nullptr, UDAT_STYLE_LONG, UDISPCTX_CAPITALIZATION_NONE, status);
    std::unique_ptr<icu::Calendar> calendar(icu::Calendar::createInstance(locale, status));
    if (U_FAILURE(status) || !calendar) {
        return nullptr;
    }
    tools = IcuTools {localeName, std::move(formatter), std::move(calendar)};
    return &tools;
}

} // namespace

QString RelativeDateText::formatDate(const QDateTime& date, const QDateTime& now)
{
    if (date.secsTo(now) < kJustNowSeconds) {
        return QStringLiteral("Just now");
    }
    IcuTools* tools = toolsFor(icuLocaleName());
    if (tools == nullptr) {
        return QStringLiteral("Just now");
    }

    struct Step {
        UCalendarDateFields field;
        URelativeDateTimeUnit unit;
    };
    static constexpr Step steps[] = {
        {UCAL_YEAR, UDAT_REL_UNIT_YEAR},
        {UCAL_MONTH, UDAT_REL_UNIT_MONTH},
        {UCAL_WEEK_OF_YEAR, UDAT_REL_UNIT_WEEK},
        {UCAL_DATE, UDAT_REL_UNIT_DAY},
        {UCAL_HOUR_OF_DAY, UDAT_REL_UNIT_HOUR},
        {UCAL_MINUTE, UDAT_REL_UNIT_MINUTE},
        {UCAL_SECOND, UDAT_REL_UNIT_SECOND},
    };

    UErrorCode status = U_ZERO_ERROR;
    icu::Calendar& calendar = *tools->calendar;
    calendar.setTime(static_cast<UDate>(date.toMSecsSinceEpoch()), status);
    const auto target = static_cast<UDate>(now.toMSecsSinceEpoch());
    // fieldDifference moves the calendar on by the whole units it counted, so each step
    // measures what is left after the larger units.
    for (const Step& step : steps) {
        const int32_t difference = calendar.fieldDifference(target, step.field, status);
        if (U_FAILURE(status)) {
            break;
        }
        if (difference != 0) {
            icu::UnicodeString text;
            tools->formatter->formatNumeric(-static_cast<double>(difference), step.unit, text, status);
            if (U_FAILURE(status)) {
                break;
            }
            return QString(reinterpret_cast<const QChar*>(text.getBuffer()), text.length());
        }
    }
    return QStringLiteral("Just now");
}
