#include "core/ActivityLog.h"
#include "core/AppState.h"

#include "support/TestSupport.h"

#include <QDateTime>

#include <gtest/gtest.h>

#include <thread>

using testsupport::LogRecorder;
using testsupport::processEventsFor;

TEST(ActivityLog, FormatsTimeStampAndSingleLineFeed)
{
    const QDateTime time(QDate(2025, 3, 5), QTime(14, 7, 9));
    EXPECT_EQ(ActivityLog::formatLine(QStringLiteral("hello"), time), QStringLiteral("[2025-03-05 14:07:09] hello\n"));
    EXPECT_EQ(ActivityLog::formatLine(QStringLiteral("done\n"), time), QStringLiteral("[2025-03-05 14:07:09] done\n"));
}

TEST(ActivityLog, StampsALineWithTheLocalTimeOfNow)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        const QString before = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const QString line = ActivityLog::shared().stampedLine(QStringLiteral("hello"));
        const QString after = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (before == after) {
            EXPECT_EQ(line, QLatin1Char('[') + before + QStringLiteral("] hello\n"));
            return;
        }
    }
    ADD_FAILURE() << "the second changed at every attempt";
}

TEST(ActivityLog, LinesBeforeASinkExistsAreDropped)
{
    appendLog(QStringLiteral("lost"));
    LogRecorder recorder;
    appendLog(QStringLiteral("kept"));
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("kept")));
    processEventsFor(std::chrono::milliseconds(20));
    EXPECT_EQ(recorder.lines(), QStringList {QStringLiteral("kept")});
}

TEST(ActivityLog, LinesFromWorkersArriveOnMainInOrder)
{
    LogRecorder recorder;
    std::thread worker([] {
        for (int i = 0; i < 50; ++i) {
            appendLog(QString::number(i));
        }
    });
    worker.join();
    ASSERT_TRUE(recorder.waitFor(QStringLiteral("49")));
    const QStringList lines = recorder.lines();
    ASSERT_EQ(lines.size(), 50);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(lines[i], QString::number(i));
    }
}

TEST(AppState, ChangesArePublishedOnce)
{
    AppState& state = AppState::shared();
    int changes = 0;
    auto connection = QObject::connect(&state, &AppState::isExtensionConnectedChanged, [&] { ++changes; });
    std::thread worker([&] {
        state.setExtensionConnected(true);
        state.setExtensionConnected(true);
    });
    worker.join();
    EXPECT_TRUE(state.isExtensionConnected());
    processEventsFor(std::chrono::milliseconds(20));
    EXPECT_EQ(changes, 1);
    state.setExtensionConnected(false);
    processEventsFor(std::chrono::milliseconds(20));
    EXPECT_EQ(changes, 2);
    QObject::disconnect(connection);
}
