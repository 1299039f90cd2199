#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"

#include "support/StdoutCapture.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using testsupport::StdoutCapture;

const QString kKey = QStringLiteral("MossbridgeExportHistory");
const QString kUnreadableKey = QStringLiteral("MossbridgeExportHistory.unreadable");

ExportHistoryItem makeItem(const QString& path, const QDateTime& when, bool success = true,
    std::optional<QString> error = std::nullopt)
{
    ExportHistoryItem item;
    item.title = QStringLiteral("Title of ") + path;
    item.finalPath = path;
    item.vaultName = success ? QStringLiteral("My Vault") : QStringLiteral("Unknown");
    item.timestamp = when;
    item.success = success;
    item.errorMessage = std::move(error);
    return item;
}

QStringList paths(const QList<ExportHistoryItem>& items)
{
    QStringList result;
    for (const ExportHistoryItem& item : items) {
        result.append(item.finalPath);
    }
    return result;
}

class ExportHistoryTest : public ::testing::Test {
protected:
    std::unique_ptr<ExportHistoryManager> makeManager()
    {
        return std::make_unique<ExportHistoryManager>(defaults, config, [this] { return now; });
    }

    void useVault()
    {
        ASSERT_TRUE(QDir().mkpath(vault));
        StdoutCapture quiet;
        VaultManager(config).setVaultURL(vault);
    }

    QTemporaryDir dir;
    QString vault = dir.path() + QStringLiteral("/My Vault");
    UserDefaults defaults{dir.path() + QStringLiteral("/store.conf")};
    ConfigManager config{defaults};
    QDateTime now{QDate(2025, 5, 15), QTime(12, 0)};
};

TEST_F(ExportHistoryTest, AddingAnExistingPathReplacesItAndMovesItToTheFront)
{
    auto manager = makeManager();
    int changed = 0;
    QObject::connect(manager.get(), &ExportHistoryManager::historyChanged, [&changed] { ++changed; });
    testsupport::LogRecorder log;
    StdoutCapture out;

    manager->add(makeItem(QStringLiteral("a.md"), now.addSecs(-30)));
    manager->add(makeItem(QStringLiteral("b.md"), now.addSecs(-20)));
    ExportHistoryItem again = makeItem(QStringLiteral("a.md"), now.addSecs(-10), false, QStringLiteral("boom"));
    manager->add(again);

    EXPECT_EQ(paths(manager->history()), (QStringList{QStringLiteral("a.md"), QStringLiteral("b.md")}));
    EXPECT_EQ(manager->history().first().errorMessage, QStringLiteral("boom"));
    EXPECT_EQ(changed, 3);
    EXPECT_EQ(out.text().count(QStringLiteral("[ExportHistory] add finalPath=a.md\n")), 2);
    EXPECT_TRUE(log.waitFor(QStringLiteral("[ExportHistory] add finalPath=b.md")));
    EXPECT_EQ(paths(makeManager()->history()), paths(manager->history()));
}

TEST_F(ExportHistoryTest, EntriesOlderThanThreeMonthsArePrunedOnAddAndAtStart)
{
    const QDateTime cutoff = now.addMonths(-3);
    {
        auto manager = makeManager();
        manager->add(makeItem(QStringLiteral("too-old.md"), cutoff.addSecs(-1)));
        manager->add(makeItem(QStringLiteral("exactly.md"), cutoff));
        // An entry already past the cutoff does not even survive its own add.
        EXPECT_EQ(paths(manager->history()), QStringList{QStringLiteral("exactly.md")});
    }

    // Stored entries age while the program is not running.
    defaults.setData(kKey, QJsonDocument(QJsonArray{makeItem(QStringLiteral("new.md"), now).toJson(),
                                             makeItem(QStringLiteral("old.md"), cutoff.addSecs(-1)).toJson()})
                               .toJson());
    const QByteArray stored = *defaults.data(kKey);
    auto manager = makeManager();
    EXPECT_EQ(paths(manager->history()), QStringList{QStringLiteral("new.md")});
    EXPECT_EQ(defaults.data(kKey), stored);  // not written until the next change

    now = now.addSecs(1);
    manager->add(makeItem(QStringLiteral("edge.md"), now.addMonths(-3)));
    manager->add(makeItem(QStringLiteral("latest.md"), now));
    EXPECT_EQ(paths(manager->history()), (QStringList{QStringLiteral("latest.md"), QStringLiteral("edge.md"),
                                              QStringLiteral("new.md")}));
    EXPECT_EQ(paths(makeManager()->history()), paths(manager->history()));
}

TEST_F(ExportHistoryTest, GroupsAreTodayYesterdayAndCalendarMonths)
{
    auto manager = makeManager();
    // Added oldest first, so the list is newest first.
    manager->add(makeItem(QStringLiteral("feb.md"), QDateTime(QDate(2025, 2, 20), QTime(9, 0))));
    manager->add(makeItem(QStringLiteral("mar-1.md"), QDateTime(QDate(2025, 3, 1), QTime(0, 0))));
    manager->add(makeItem(QStringLiteral("mar-31.md"), QDateTime(QDate(2025, 3, 31), QTime(23, 59))));
    manager->add(makeItem(QStringLiteral("may-13.md"), QDateTime(QDate(2025, 5, 13), QTime(23, 59, 59))));
    manager->add(makeItem(QStringLiteral("yesterday.md"), QDateTime(QDate(2025, 5, 14), QTime(0, 0))));
    manager->add(makeItem(QStringLiteral("today-early.md"), QDateTime(QDate(2025, 5, 15), QTime(0, 0))));
    manager->add(makeItem(QStringLiteral("today-late.md"), QDateTime(QDate(2025, 5, 15), QTime(11, 0))));

    struct Group {
        QString label;
        QStringList paths;
    };
    const std::vector<Group> expected = {
        {QStringLiteral("Today"), {QStringLiteral("today-late.md"), QStringLiteral("today-early.md")}},
        {QStringLiteral("Yesterday"), {QStringLiteral("yesterday.md")}},
        {QStringLiteral("May 2025"), {QStringLiteral("may-13.md")}},
        {QStringLiteral("March 2025"), {QStringLiteral("mar-31.md"), QStringLiteral("mar-1.md")}},
        {QStringLiteral("February 2025"), {QStringLiteral("feb.md")}},
    };
    const auto groups = manager->getGroupedHistory();
    ASSERT_EQ(groups.size(), static_cast<qsizetype>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(groups[static_cast<qsizetype>(i)].first, expected[i].label);
        EXPECT_EQ(paths(groups[static_cast<qsizetype>(i)].second), expected[i].paths);
    }

    // Yesterday across a month and a year boundary.
    now = QDateTime(QDate(2026, 1, 1), QTime(0, 30));
    auto fresh = makeManager();
    fresh->add(makeItem(QStringLiteral("nye.md"), QDateTime(QDate(2025, 12, 31), QTime(23, 0))));
    fresh->add(makeItem(QStringLiteral("nyd.md"), now));
    const auto boundary = fresh->getGroupedHistory();
    ASSERT_EQ(boundary.size(), 2);
    EXPECT_EQ(boundary[0].first, QStringLiteral("Today"));
    EXPECT_EQ(boundary[1].first, QStringLiteral("Yesterday"));
}

TEST_F(ExportHistoryTest, SuccessfulAndRecentExports)
{
    auto manager = makeManager();
    for (int i = 0; i < 8; ++i) {
        manager->add(makeItem(QStringLiteral("ok-%1.md").arg(i), now.addSecs(i), true));
        manager->add(makeItem(QStringLiteral("failed-%1").arg(i), now.addSecs(i), false, QStringLiteral("e")));
    }
    EXPECT_EQ(manager->successfulExports().size(), 8);
    EXPECT_EQ(paths(manager->recentSuccessfulExports()),
        (QStringList{QStringLiteral("ok-7.md"), QStringLiteral("ok-6.md"), QStringLiteral("ok-5.md"),
            QStringLiteral("ok-4.md"), QStringLiteral("ok-3.md")}));
}

TEST_F(ExportHistoryTest, RelativePathsResolveAgainstTheVault)
{
    // A file named like the relative path in the current directory must not count without a vault.
    QTemporaryDir cwd;
    ASSERT_TRUE(QDir().mkpath(cwd.path() + QStringLiteral("/Inbox")));
    QFile decoy(cwd.path() + QStringLiteral("/Inbox/Chat.md"));
    ASSERT_TRUE(decoy.open(QIODevice::WriteOnly));
    decoy.close();
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(cwd.path()));
    struct Back {
        QString path;
        ~Back() { QDir::setCurrent(path); }
    } back{previous};

    auto manager = makeManager();
    testsupport::LogRecorder log;
    {
        StdoutCapture out;
        EXPECT_EQ(manager->resolvedPath(QStringLiteral("Inbox/Chat.md")), QStringLiteral("Inbox/Chat.md"));
        EXPECT_FALSE(manager->fileExists(QStringLiteral("Inbox/Chat.md")));
        EXPECT_EQ(out.text(),
            QStringLiteral("[ExportHistory] fileExists path=Inbox/Chat.md resolved=Inbox/Chat.md exists=false\n"));
    }

    useVault();
    ASSERT_TRUE(QDir().mkpath(vault + QStringLiteral("/Inbox")));
    QFile note(vault + QStringLiteral("/Inbox/Chat.md"));
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.close();
    const QString absolute = vault + QStringLiteral("/Inbox/Chat.md");
    {
        StdoutCapture out;
        EXPECT_EQ(manager->resolvedPath(QStringLiteral("Inbox/Chat.md")), absolute);
        EXPECT_EQ(manager->resolvedPath(decoy.fileName()), decoy.fileName());
        EXPECT_TRUE(manager->fileExists(QStringLiteral("Inbox/Chat.md")));
        EXPECT_FALSE(manager->fileExists(QStringLiteral("Inbox/Gone.md")));
        EXPECT_TRUE(manager->fileExists(decoy.fileName()));
        EXPECT_TRUE(out.text().startsWith(QStringLiteral("[ExportHistory] fileExists path=Inbox/Chat.md resolved=")
            + absolute + QStringLiteral(" exists=true\n")));
    }
    EXPECT_TRUE(log.waitFor(QStringLiteral("[ExportHistory] fileExists path=Inbox/Gone.md resolved=") + vault
        + QStringLiteral("/Inbox/Gone.md exists=false")));
}

TEST_F(ExportHistoryTest, FileExistenceIsRefreshedForEveryEntry)
{
    useVault();
    QFile note(vault + QStringLiteral("/kept.md"));
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.close();
    {
        auto writer = makeManager();
        writer->add(makeItem(QStringLiteral("gone.md"), now));
        writer->add(makeItem(QStringLiteral("kept.md"), now));
    }
    auto manager = makeManager();  // checks at start
    ASSERT_EQ(manager->history().size(), 2);
    EXPECT_EQ(manager->history()[0].fileExists, true);
    EXPECT_EQ(manager->history()[1].fileExists, false);

    ASSERT_TRUE(QFile::remove(vault + QStringLiteral("/kept.md")));
    int changed = 0;
    QObject::connect(manager.get(), &ExportHistoryManager::historyChanged, [&changed] { ++changed; });
    manager->refreshFileExistence();
    EXPECT_EQ(changed, 1);
    EXPECT_EQ(manager->history()[0].fileExists, false);
}

// A stored history that does not fully decode (written by another version, or damaged) loses
// only the entries that cannot be read, and its text is kept aside before the next save.
TEST_F(ExportHistoryTest, EntriesThatDoNotDecodeAreSkippedAndTheStoredTextIsKept)
{
    const QJsonObject first = makeItem(QStringLiteral("first.md"), now.addSecs(-10)).toJson();
    const QJsonObject second = makeItem(QStringLiteral("second.md"), now.addSecs(-20)).toJson();
    QJsonObject numberPath = first;
    numberPath.insert(QStringLiteral("finalPath"), 42);
    QJsonObject wrongType = first;
    wrongType.insert(QStringLiteral("success"), QStringLiteral("true"));
    QJsonObject missingKey = first;
    missingKey.remove(QStringLiteral("vaultName"));
    QJsonObject badMessage = first;
    badMessage.insert(QStringLiteral("errorMessage"), 3);
    const auto json = [](const QJsonArray& array) { return QJsonDocument(array).toJson(QJsonDocument::Compact); };

    struct Case {
        const char* name;
        QByteArray stored;
        QStringList loaded;
        QString logLine; // empty: nothing skipped, nothing kept
    };
    const QString keptUnder = QStringLiteral("the stored history is kept under MossbridgeExportHistory.unreadable");
    const QString notAnArray = QStringLiteral("[ExportHistory] load skipped all entries: the stored history is not a "
                                              "JSON array; it is kept under MossbridgeExportHistory.unreadable");
    const std::vector<Case> cases = {
        {"valid", json({first, second}), {QStringLiteral("first.md"), QStringLiteral("second.md")}, {}},
        {"one bad entry among good ones", json({first, numberPath, second}),
            {QStringLiteral("first.md"), QStringLiteral("second.md")},
            QStringLiteral("[ExportHistory] load skipped 1 of 3 entries that could not be read; ") + keptUnder},
        {"every kind of bad entry", json({wrongType, missingKey, second, badMessage, 5, QJsonArray{}}),
            {QStringLiteral("second.md")},
            QStringLiteral("[ExportHistory] load skipped 5 of 6 entries that could not be read; ") + keptUnder},
        {"not JSON at all", "garbage", {}, notAnArray},
        {"JSON but no list", R"({"title":"not an array"})", {}, notAnArray},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.remove(kUnreadableKey);
        defaults.setData(kKey, c.stored);
        testsupport::LogRecorder log;
        std::unique_ptr<ExportHistoryManager> manager;
        {
            StdoutCapture out;
            manager = makeManager();
            EXPECT_EQ(out.text(), c.logLine.isEmpty() ? QString() : c.logLine + QLatin1Char('\n'));
        }
        EXPECT_EQ(paths(manager->history()), c.loaded);
        if (c.logLine.isEmpty()) {
            EXPECT_FALSE(defaults.data(kUnreadableKey).has_value());
            continue;
        }
        EXPECT_TRUE(log.waitFor(c.logLine));
        EXPECT_EQ(defaults.data(kUnreadableKey), c.stored);

        // The next save writes what was loaded plus the new entry; the kept text stays as it was,
        // also across a start that reads the history saved meanwhile.
        {
            StdoutCapture quiet;
            manager->add(makeItem(QStringLiteral("next.md"), now));
        }
        EXPECT_EQ(paths(makeManager()->history()), QStringList{QStringLiteral("next.md")} + c.loaded);
        EXPECT_EQ(defaults.data(kUnreadableKey), c.stored);
    }
}

TEST_F(ExportHistoryTest, StoredJsonUsesTheReferenceDateAndIsReadBackByAFreshManager)
{
    const QDateTime when = QDateTime(QDate(2025, 5, 1), QTime(10, 0, 0, 500), QTimeZone::utc());
    const double seconds = static_cast<double>(when.toSecsSinceEpoch() - 978307200) + 0.5;
    {
        auto manager = makeManager();
        manager->add(makeItem(QStringLiteral("failed"), when, false, QStringLiteral("Write failed: disk full")));
        ExportHistoryItem ok = makeItem(QStringLiteral("/abs/ok.md"), when);
        ok.errorMessage = QString();  // empty: left out
        ok.fileExists = true;         // never stored
        manager->add(ok);
    }
    const QJsonArray array = QJsonDocument::fromJson(*defaults.data(kKey)).array();
    ASSERT_EQ(array.size(), 2);
    const QJsonObject first = array[0].toObject();
    EXPECT_EQ(first.keys(), (QStringList{QStringLiteral("finalPath"), QStringLiteral("success"),
                                QStringLiteral("timestamp"), QStringLiteral("title"), QStringLiteral("vaultName")}));
    EXPECT_DOUBLE_EQ(first.value(QStringLiteral("timestamp")).toDouble(), seconds);
    EXPECT_EQ(array[1].toObject().value(QStringLiteral("errorMessage")).toString(),
        QStringLiteral("Write failed: disk full"));

    auto manager = makeManager();
    const auto history = manager->history();
    ASSERT_EQ(history.size(), 2);
    EXPECT_EQ(history[0].finalPath, QStringLiteral("/abs/ok.md"));
    EXPECT_EQ(history[0].title, QStringLiteral("Title of /abs/ok.md"));
    EXPECT_EQ(history[0].vaultName, QStringLiteral("My Vault"));
    EXPECT_TRUE(history[0].success);
    EXPECT_EQ(history[0].timestamp, when);
    EXPECT_FALSE(history[0].errorMessage.has_value());
    EXPECT_EQ(history[0].fileExists, false);  // checked at start, not read from the store
    EXPECT_EQ(history[1].errorMessage, QStringLiteral("Write failed: disk full"));
    EXPECT_FALSE(history[1].success);
    EXPECT_EQ(history[1].vaultName, QStringLiteral("Unknown"));

    // Written by hand: a whole-second number and a negative (pre-2001) fraction both decode.
    const auto decoded = ExportHistoryItem::fromJson(QJsonDocument::fromJson(
        R"({"title":"t","finalPath":"p","vaultName":"v","timestamp":-0.25,"success":true,"extra":1})")
                                                         .object());
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->timestamp, QDateTime(QDate(2000, 12, 31), QTime(23, 59, 59, 750), QTimeZone::utc()));
}

TEST_F(ExportHistoryTest, ClearEmptiesTheListAndRemovesTheKey)
{
    auto manager = makeManager();
    manager->add(makeItem(QStringLiteral("a.md"), now));
    int changed = 0;
    QObject::connect(manager.get(), &ExportHistoryManager::historyChanged, [&changed] { ++changed; });
    manager->clear();
    EXPECT_EQ(changed, 1);
    EXPECT_TRUE(manager->history().isEmpty());
    EXPECT_FALSE(defaults.data(kKey).has_value());
    EXPECT_TRUE(makeManager()->history().isEmpty());
}

} // namespace
