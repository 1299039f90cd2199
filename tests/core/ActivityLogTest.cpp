#include "core/ActivityLog.h"
#include "core/AppState.h"

#include "support/TestSupport.h"

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
