#include "link/ChunkAssembler.h"

#include "core/ActivityLog.h"
#include "core/MemoryTuning.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <gtest/gtest.h>

#include <unistd.h>

#include <future>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Add {
    qint64 index;
    qint64 total;
    QByteArray data;
    bool accepted = true;
};

struct AssemblyCase {
    const char* name;
    std::vector<Add> adds;
    std::optional<QByteArray> expected; // the completed payload, or nothing
};

void PrintTo(const AssemblyCase& c, std::ostream* os)
{
    *os << c.name;
}

class ChunkAssembly : public testing::TestWithParam<AssemblyCase> { };

TEST_P(ChunkAssembly, CompletesExactlyWhenWhole)
{
    const AssemblyCase& c = GetParam();
    ChunkAssembler assembler;
    for (const Add& add : c.adds) {
        EXPECT_EQ(assembler.addChunk("req", add.index, add.total, add.data), add.accepted)
            << "index " << add.index << " total " << add.total;
    }
    EXPECT_EQ(assembler.getData("req"), c.expected);
    EXPECT_EQ(assembler.getData("other"), std::nullopt);
}

const AssemblyCase assemblyCases[] = {
    {"single chunk", {{0, 1, "abc"}}, QByteArray("abc")},
    {"in order", {{0, 3, "a"}, {1, 3, "b"}, {2, 3, "c"}}, QByteArray("abc")},
    {"out of order joins by index", {{2, 3, "c"}, {0, 3, "a"}, {1, 3, "b"}}, QByteArray("abc")},
    {"incomplete", {{0, 3, "a"}, {2, 3, "c"}}, std::nullopt},
    {"repeated index replaces and counts once", {{0, 2, "x"}, {0, 2, "a"}, {1, 2, "b"}}, QByteArray("ab")},
    {"gap in the index range completes nothing", {{0, 3, "a"}, {1, 3, "b"}, {5, 3, "f"}}, std::nullopt},
    {"gap then the missing chunk: count no longer equals total",
        {{0, 3, "a"}, {1, 3, "b"}, {5, 3, "f"}, {2, 3, "c"}}, std::nullopt},
    {"total 0 first: stored, nothing completed", {{0, 0, "a"}}, std::nullopt},
    {"recorded total 0 joins to an empty payload", {{0, 0, "a"}, {1, 2, "b"}}, QByteArray()},
    {"only the first total is recorded", {{0, 2, "a"}, {1, 3, "b"}, {2, 3, "c"}}, QByteArray("ab")},
    {"empty chunks", {{0, 2, ""}, {1, 2, ""}}, QByteArray()},
    {"binary data", {{1, 2, QByteArray("\0\xff", 2)}, {0, 2, QByteArray("\x00", 1)}}, QByteArray("\0\0\xff", 3)},
    {"negative total refused", {{0, -1, "a", false}, {1, -1, "b", false}}, std::nullopt},
    {"negative index refused", {{-1, 1, "a", false}}, std::nullopt},
    {"refused chunk leaves the rest intact", {{0, 2, "a"}, {-1, 2, "x", false}, {1, 2, "b"}}, QByteArray("ab")},
};

INSTANTIATE_TEST_SUITE_P(Cases, ChunkAssembly, testing::ValuesIn(assemblyCases));

TEST(ChunkAssembler, CompletedPayloadStaysUntilCleared)
{
    ChunkAssembler assembler;
    assembler.addChunk("a", 0, 1, "first");
    assembler.addChunk("b", 0, 2, "partial");
    EXPECT_EQ(assembler.getData("a"), QByteArray("first"));
    EXPECT_EQ(assembler.getData("a"), QByteArray("first"));

    assembler.clear("a");
    EXPECT_EQ(assembler.getData("a"), std::nullopt);

    // Clearing forgets partial chunks and the recorded total too: a fresh run starts over.
    assembler.clear("b");
    assembler.addChunk("b", 0, 1, "fresh");
    EXPECT_EQ(assembler.getData("b"), QByteArray("fresh"));
}

TEST(ChunkAssembler, ChunksAfterCompletionStartANewRun)
{
    ChunkAssembler assembler;
    assembler.addChunk("a", 0, 1, "one");
    assembler.addChunk("a", 0, 2, "x");
    EXPECT_EQ(assembler.getData("a"), QByteArray("one"));
    assembler.addChunk("a", 1, 2, "y");
    EXPECT_EQ(assembler.getData("a"), QByteArray("xy"));
}

TEST(ChunkAssembler, ConcurrentFeedersOfSeveralRequests)
{
    ChunkAssembler assembler;
    constexpr int chunks = 200;
    std::vector<std::thread> feeders;
    for (int t = 0; t < 4; ++t) {
        feeders.emplace_back([&assembler, t] {
            const QString id = QString::number(t);
            for (int i = chunks - 1; i >= 0; --i) {
                assembler.addChunk(id, i, chunks, QByteArray(1, char('a' + i % 26)));
            }
        });
    }
    for (std::thread& f : feeders) {
        f.join();
    }
    QByteArray expected;
    for (int i = 0; i < chunks; ++i) {
        expected.append(char('a' + i % 26));
    }
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(assembler.getData(QString::number(t)), expected);
    }
}

using namespace std::chrono_literals;

// Collects the activity log's lines for the life of the test.
class LogCapture {
public:
    LogCapture()
    {
        ActivityLog::shared().setSink([this](const QString& line) {
            std::lock_guard guard(mutex_);
            lines_.append(line);
        });
    }
    ~LogCapture() { ActivityLog::shared().setSink({}); }

    // The lines so far; runs the main loop first, where the log delivers them.
    QStringList lines()
    {
        QCoreApplication::processEvents();
        std::lock_guard guard(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    QStringList lines_;
};

TEST(ChunkAssembler, IdlePayloadsAreDroppedAfterTheLimit)
{
    LogCapture log;
    ChunkAssembler assembler;
    auto now = std::chrono::steady_clock::time_point {} + 1000s;
    assembler.setClock([&now] { return now; });

    assembler.addChunk("partial", 0, 3, "abc");     // never completed
    assembler.addChunk("unread", 0, 1, "done");      // completed, nobody reads it
    assembler.addChunk("read", 0, 1, "in use");      // completed and read now and then
    assembler.addChunk("fed", 0, 2, "x");            // chunks keep coming

    now += 100s;
    EXPECT_EQ(assembler.getData("read"), QByteArray("in use"));
    assembler.addChunk("fed", 2, 3, "z");
    assembler.sweep();
    now += 20s; // exactly the limit since the first chunks: nothing is dropped yet
    assembler.sweep();
    EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join(QLatin1Char('\n')).toStdString();

    now += 1s;
    // The sweep on an added chunk drops the two idle ones; the chunk itself refreshes "fed".
    assembler.addChunk("fed", 1, 3, "y");
    EXPECT_EQ(assembler.getData("unread"), std::nullopt);
    EXPECT_EQ(assembler.getData("read"), QByteArray("in use"));
    // Dropped chunks are gone for good: a new run of the id starts from scratch.
    assembler.addChunk("partial", 1, 3, "b");
    assembler.addChunk("partial", 2, 3, "c");
    EXPECT_EQ(assembler.getData("partial"), std::nullopt);

    const QStringList lines = log.lines();
    ASSERT_EQ(lines.size(), 2) << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines.filter(QStringLiteral("[CHUNK] Dropped incomplete payload for RID: partial (1 of 3 chunks, 3 bytes), "
                                            "no chunk for 120s")).size() == 1)
        << lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(lines.filter(QStringLiteral("[CHUNK] Dropped completed payload for RID: unread (4 bytes), "
                                            "not taken within 120s")).size() == 1)
        << lines.join(QLatin1Char('\n')).toStdString();

    now += 121s;
    assembler.sweep();
    EXPECT_EQ(assembler.getData("read"), std::nullopt);
    EXPECT_EQ(assembler.getData("fed"), std::nullopt);
    EXPECT_EQ(log.lines().size(), 5);
}

TEST(ChunkAssembler, AnIdleProcessStillDropsAbandonedPayloads)
{
    LogCapture log;
    ChunkAssembler assembler;
    assembler.setIdleLimit(50ms);
    assembler.addChunk("abandoned", 0, 2, "half");
    assembler.addChunk("finished", 0, 1, "whole");

    // No further call reaches the assembler: only its timer on the main loop can drop them.
    QElapsedTimer waited;
    waited.start();
    while (log.lines().size() < 2 && waited.elapsed() < 5000) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    EXPECT_EQ(log.lines().size(), 2) << log.lines().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(assembler.getData("finished"), std::nullopt);
}

TEST(ChunkAssembler, ATimerOutlivingItsAssemblerDoesNothing)
{
    {
        ChunkAssembler assembler;
        assembler.setIdleLimit(10ms);
        assembler.addChunk("a", 0, 2, "x");
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 100) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
}

TEST(ChunkAssembler, ObserversLearnWhichPayloadsWereDroppedUntilRemoved)
{
    LogCapture log;
    ChunkAssembler assembler;
    auto now = std::chrono::steady_clock::time_point {} + 1000s;
    assembler.setClock([&now] { return now; });
    QStringList seenByFirst;
    QStringList seenBySecond;
    const int first = assembler.addDropObserver([&](const QStringList& ids) { seenByFirst += ids; });
    assembler.addDropObserver([&](const QStringList& ids) { seenBySecond += ids; });

    assembler.addChunk("partial", 0, 3, "abc");
    assembler.addChunk("unread", 0, 1, "done");
    now += 121s;
    assembler.sweep();
    seenByFirst.sort();
    EXPECT_EQ(seenByFirst, (QStringList {QStringLiteral("partial"), QStringLiteral("unread")}));
    EXPECT_EQ(seenBySecond.size(), 2);

    assembler.removeDropObserver(first);
    assembler.addChunk("later", 0, 2, "x");
    now += 121s;
    assembler.sweep();
    EXPECT_EQ(seenByFirst.size(), 2);
    EXPECT_EQ(seenBySecond.last(), QStringLiteral("later"));
    // A sweep that drops nothing tells nobody.
    assembler.sweep();
    EXPECT_EQ(seenBySecond.size(), 3);
}

#if !defined(__SANITIZE_ADDRESS__)
qint64 residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE) : -1;
}

// Captures that stop coming hold megabytes each; with the allocator kept as the application
// keeps it (freed buffers held for reuse), their memory must still go back once dropped. The
// chunks are made on another thread, as the server's thread makes them: its heap is not the
// main one.
TEST(ChunkAssembler, DroppedPayloadsGiveTheirMemoryBack)
{
    tuneAllocatorForLargeBuffers();
    ChunkAssembler assembler;
    auto now = std::chrono::steady_clock::time_point {} + 1000s;
    assembler.setClock([&now] { return now; });
    const qint64 before = residentBytes();
    ASSERT_GT(before, 0);

    constexpr qsizetype chunk = 1536 * 1024;
    std::promise<void> checked;
    std::promise<void> fed;
    std::thread server([&] {
        for (int payload = 0; payload < 40; ++payload) {
            for (int index = 0; index < 2; ++index) {
                // What receiving a chunk costs besides the chunk: the frame and its text.
                QByteArray frame(3 * chunk, 'f');
                assembler.addChunk(QStringLiteral("capture-%1").arg(payload), index, 3, QByteArray(chunk, char('a' + index)));
            }
        }
        fed.set_value();
        checked.get_future().wait(); // a server thread lives on
    });
    fed.get_future().wait();
    const qint64 holding = residentBytes();
    ASSERT_GT(holding - before, 100 * 1024 * 1024);

    now += 121s;
    assembler.sweep();
    EXPECT_LT(residentBytes() - before, 20 * 1024 * 1024) << "before " << before << ", holding " << holding;
    checked.set_value();
    server.join();
}
#endif

TEST(ChunkAssembler, SharedIsOneInstance)
{
    EXPECT_EQ(&ChunkAssembler::shared(), &ChunkAssembler::shared());
}

} // namespace
