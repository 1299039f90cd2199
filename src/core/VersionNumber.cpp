#include "core/VersionNumber.h"

#include <QStringList>

int VersionNumber::compare(const QString& a, const QString& b)
{
    const QStringList left = a.trimmed().split(QLatin1Char('.'));
    const QStringList right = b.trimmed().split(QLatin1Char('.'));
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const QString l = i < left.size() ? left[i] : QStringLiteral("0");
        const QString r = i < right.size() ? right[i] : QStringLiteral("0");
        bool lNumber = false;
        bool rNumber = false;
        const qulonglong lValue = l.toULongLong(&lNumber);
        const qulonglong rValue = r.toULongLong(&rNumber);
        if (lNumber && rNumber) {
            if (lValue != rValue) {
                return lValue < rValue ? -1 : 1;
            }
            continue;
        }
        if (const int text = QString::compare(l, r); text != 0) {
            return text < 0 ? -1 : 1;
        }
    }
    return 0;
}
