// The pure rules of the export: the scroll step and the notification title.

#include "export/ExportController.h"

#include <gtest/gtest.h>

TEST(ScrollStep, GrowsWithTheStallCountUpToTenTimesTheBase)
{
    struct Case {
        qint64 clientHeight;
        qint64 stallCount;
        qint64 step;
    };
    for (const Case& c : std::vector<Case> {
             {400, 0, 300},    // 140 is below the floor
             {2000, 0, 700},
             {2000, 2, 700},   // the multiplier starts at three stalls
             {2000, 3, 1400},
             {2000, 10, 6300},
             {2000, 11, 7000},
             {2000, 50, 7000},
             {0, 0, 300},
             {857, 0, 300},    // 299.95 truncates to 299, below the floor
             {858, 0, 300},
             {1000, 0, 350},
         }) {
        EXPECT_EQ(ExportController::scrollStep(c.clientHeight, c.stallCount), c.step)
            << "clientHeight " << c.clientHeight << ", stallCount " << c.stallCount;
    }
}

TEST(NotificationTitle, CutsLongTitlesByCharacters)
{
    const QString sixty(60, QLatin1Char('a'));
    // An emoji with a skin-tone modifier is one character of two code points and four units.
    const QString wave = QStringLiteral("\U0001F44B\U0001F3FD");
    struct Case {
        QString chatTitle;
        QString title;
    };
    for (const Case& c : std::vector<Case> {
             {QString(), QStringLiteral("Mossbridge: \"Chat\"")},
             {QStringLiteral("Trip"), QStringLiteral("Mossbridge: \"Trip\"")},
             {sixty, QStringLiteral("Mossbridge: \"") + sixty + QStringLiteral("\"")},
             {sixty + QStringLiteral("b"), QStringLiteral("Mossbridge: \"") + sixty + QStringLiteral("…\"")},
             {wave.repeated(60), QStringLiteral("Mossbridge: \"") + wave.repeated(60) + QStringLiteral("\"")},
             {wave.repeated(61), QStringLiteral("Mossbridge: \"") + wave.repeated(60) + QStringLiteral("…\"")},
         }) {
        EXPECT_EQ(ExportController::notificationTitle(c.chatTitle), c.title) << qPrintable(c.chatTitle);
    }
}
