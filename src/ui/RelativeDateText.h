#pragma once

#include <QDateTime>
#include <QString>

// The age of an export as the history rows show it: "Just now" for anything under a minute old
// (dates in the future included), otherwise ICU's localised relative phrase in full units, in
// the largest calendar unit that differs ("2 hours ago", "3 days ago").
class RelativeDateText {
public:
    static QString formatDate(const QDateTime& date, const QDateTime& now);
};
