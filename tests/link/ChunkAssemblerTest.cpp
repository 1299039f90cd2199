#include "link/ChunkAssembler.h"

#include <gtest/gtest.h>

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

TEST(ChunkAssembler, SharedIsOneInstance)
{
    EXPECT_EQ(&ChunkAssembler::shared(), &ChunkAssembler::shared());
}

} // namespace
