#include "core/VersionNumber.h"

#include <QStringView>

namespace {
// The digit run starting at `from`, without leading zeros (one zero stays).
QStringView digitRun(const QString& text, qsizetype from, qsizetype& end)
{
    end = from;
    while (end < text.size() && text[end].isDigit()) {
        ++end;
    }
    QStringView run = QStringView(text).sliced(from, end - from);
    while (run.size() > 1 && run.front() == QLatin1Char('0')) {
        run = run.sliced(1);
    }
    return run;
}
} // namespace

int VersionNumber::compare(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            qsizetype endI = 0;
            qsizetype endJ = 0;
            const QStringView left = digitRun(a, i, endI);
            const QStringView right = digitRun(b, j, endJ);
            // Compared as text of equal length, so runs of any length never overflow.
            if (left.size() != right.size()) {
                return left.size() < right.size() ? -1 : 1;
            }
            if (const int order = left.compare(right); order != 0) {
                return order < 0 ? -1 : 1;
            }
            i = endI;
            j = endJ;
            continue;
        }
        if (a[i] != b[j]) {
            return a[i] < b[j] ? -1 : 1;
        }
        ++i;
        ++j;
    }
    const qsizetype leftRest = a.size() - i;
    const qsizetype rightRest = b.size() - j;
    return leftRest == rightRest ? 0 : (leftRest < rightRest ? -1 : 1);
}
