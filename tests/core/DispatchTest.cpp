#include "core/Dispatch.h"

#include "support/TestSupport.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>
#include <vector>

using testsupport::waitUntil;

TEST(Dispatch, SyncOnMainThreadRunsDirectly)
{
    bool ran = false;
    dispatchMainSync([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(Dispatch, SyncFromWorkerRunsOnMainAndWaits)
{
    std::atomic<bool> onMain {false};
    std::atomic<bool> returned {false};
    std::thread worker([&] {
        dispatchMainSync([&] { onMain = isMainThread(); });
        returned = true;
    });
    ASSERT_TRUE(waitUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(onMain);
}

TEST(Dispatch, AsyncKeepsOrderOfOnePoster)
{
    std::vector<int> seen;
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) {
            dispatchMainAsync([&seen, i] { seen.push_back(i); });
        }
    });
    worker.join();
    ASSERT_TRUE(waitUntil([&] { return seen.size() == 100; }));
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(seen[static_cast<size_t>(i)], i);
    }
}

TEST(Dispatch, GlobalRunsOffMain)
{
    std::atomic<int> offMain {-1};
    dispatchGlobalAsync([&] { offMain = isMainThread() ? 0 : 1; });
    ASSERT_TRUE(waitUntil([&] { return offMain.load() != -1; }));
    EXPECT_EQ(offMain.load(), 1);
}
