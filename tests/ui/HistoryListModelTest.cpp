#include "ui/HistoryItemViewModel.h"
#include "ui/HistoryListModel.h"

#include "HistoryTestSupport.h"

#include <QFileInfo>

#include <gtest/gtest.h>

namespace {

using historytest::HistoryFixture;
using historytest::makeItem;

const QString kKey = QStringLiteral("MossbridgeExportHistory");

class HistoryListModelTest : public ::testing::Test, protected HistoryFixture {
protected:
    std::unique_ptr<HistoryListModel> makeModel()
    {
        return std::make_unique<HistoryListModel>(*manager, [this] { return now; });
    }

    // Adds oldest first, so the history reads newest first.
    void addAll(const QList<ExportHistoryItem>& newestFirst)
    {
        for (qsizetype i = newestFirst.size() - 1; i >= 0; --i) {
            manager->add(newestFirst.at(i));
        }
    }

    QStringList titles(const HistoryListModel& model)
    {
        QStringList result;
        for (int group = 0; group < model.rowCount(); ++group) {
            result.append(model.data(model.index(group), HistoryListModel::TitleRole).toString());
        }
        return result;
    }

    QList<QList<bool>> dividers(const HistoryListModel& model)
    {
        QList<QList<bool>> result;
        for (int group = 0; group < model.rowCount(); ++group) {
            QList<bool> flags;
            for (HistoryItemViewModel* row : model.groupRows(group)) {
                flags.append(row->hasDividerBelow());
            }
            result.append(flags);
        }
        return result;
    }
};

TEST_F(HistoryListModelTest, GroupsFollowTheHistoryWithADividerBetweenRows)
{
    addAll({
        makeItem(QStringLiteral("a"), QStringLiteral("a.md"), now.addSecs(-60)),
        makeItem(QStringLiteral("b"), QStringLiteral("b.md"), now.addSecs(-3600)),
        makeItem(QStringLiteral("c"), QStringLiteral("c.md"), now.addDays(-1)),
        makeItem(QStringLiteral("d"), QStringLiteral("d.md"), QDateTime(QDate(2025, 4, 20), QTime(9, 0))),
        makeItem(QStringLiteral("e"), QStringLiteral("e.md"), QDateTime(QDate(2025, 4, 2), QTime(9, 0))),
        makeItem(QStringLiteral("f"), QStringLiteral("f.md"), QDateTime(QDate(2025, 4, 1), QTime(9, 0))),
        makeItem(QStringLiteral("g"), QStringLiteral("g.md"), QDateTime(QDate(2025, 3, 1), QTime(9, 0))),
    });
    auto model = makeModel();

    QStringList expected;
    for (const auto& group : manager->getGroupedHistory()) {
        expected.append(group.first);
    }
    EXPECT_EQ(titles(*model), expected);
    EXPECT_EQ(titles(*model), (QStringList {QStringLiteral("Today"), QStringLiteral("Yesterday"),
                                  QStringLiteral("April 2025"), QStringLiteral("March 2025")}));
    // n - 1 dividers in a group of n: none under a group's last row.
    EXPECT_EQ(dividers(*model), (QList<QList<bool>> {{true, false}, {false}, {true, true, false}, {false}}));
    EXPECT_EQ(model->groupRows(2).at(0)->title(), QStringLiteral("d"));
    EXPECT_EQ(model->groupRows(2).at(2)->title(), QStringLiteral("f"));

    const QVariantList rows = model->data(model->index(0), HistoryListModel::RowsRole).toList();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(qvariant_cast<QObject*>(rows.at(0)), model->groupRows(0).at(0));
}

TEST_F(HistoryListModelTest, CountTextEmptyStateAndFooter)
{
    struct Case {
        int items;
        const char* countText;
    };
    for (const Case& c : {Case {0, "0 exports"}, Case {1, "1 exports"}, Case {12, "12 exports"}}) {
        SCOPED_TRACE(c.items);
        manager->clear();
        for (int i = 0; i < c.items; ++i) {
            manager->add(makeItem(QStringLiteral("t"), QStringLiteral("n%1.md").arg(i), now.addSecs(-i * 60)));
        }
        auto model = makeModel();
        EXPECT_EQ(model->count(), c.items);
        EXPECT_EQ(model->countText(), QString::fromLatin1(c.countText));
        EXPECT_EQ(model->isEmpty(), c.items == 0);
        EXPECT_EQ(model->clearEnabled(), c.items != 0);
        EXPECT_EQ(model->showsFooter(), c.items != 0);
        EXPECT_EQ(model->rowCount(), c.items == 0 ? 0 : 1);
    }
}

TEST_F(HistoryListModelTest, RebuildsOnEveryPublishedChange)
{
    auto model = makeModel();
    int rebuilt = 0;
    int resets = 0;
    QObject::connect(model.get(), &HistoryListModel::historyRebuilt, [&rebuilt] { ++rebuilt; });
    QObject::connect(model.get(), &QAbstractItemModel::modelReset, [&resets] { ++resets; });

    const QString path = writeNote(QStringLiteral("Chats/one.md"));
    manager->add(makeItem(QStringLiteral("one"), path, now.addSecs(-120), true, std::nullopt, true));
    EXPECT_EQ(model->count(), 1);
    EXPECT_FALSE(model->groupRows(0).at(0)->isMissing());

    ASSERT_TRUE(QFile::remove(vault + QStringLiteral("/Chats/one.md")));
    manager->refreshFileExistence();
    EXPECT_TRUE(model->groupRows(0).at(0)->isMissing());

    manager->clear();
    EXPECT_TRUE(model->isEmpty());
    EXPECT_EQ(model->rowCount(), 0);
    EXPECT_EQ(rebuilt, 3);
    EXPECT_EQ(resets, 3);
}

TEST_F(HistoryListModelTest, ClearEmptiesTheHistoryAndRemovesItsKeyButKeepsTheNotes)
{
    const QString note = writeNote(QStringLiteral("Chats/kept.md"));
    manager->add(makeItem(QStringLiteral("kept"), note, now.addSecs(-300)));
    manager->add(makeItem(QStringLiteral("failed"), QStringLiteral("x.md"), now.addSecs(-200), false,
        QStringLiteral("Vault not found")));
    ASSERT_TRUE(defaults.data(kKey).has_value());
    ASSERT_FALSE(manager->recentSuccessfulExports().isEmpty());
    const auto preferencesBefore = defaults.data(QStringLiteral("UserPreferences"));

    auto model = makeModel();
    int published = 0;
    QObject::connect(manager.get(), &ExportHistoryManager::historyChanged, [&published] { ++published; });
    model->clearHistory();

    EXPECT_EQ(published, 1);
    EXPECT_TRUE(manager->history().isEmpty());
    // The status menu's recent exports follow the same published list.
    EXPECT_TRUE(manager->recentSuccessfulExports().isEmpty());
    // Removed, not rewritten as an empty list.
    EXPECT_FALSE(defaults.data(kKey).has_value());
    EXPECT_EQ(defaults.data(QStringLiteral("UserPreferences")), preferencesBefore);
    EXPECT_TRUE(QFileInfo::exists(vault + QStringLiteral("/Chats/kept.md")));
    EXPECT_TRUE(model->isEmpty());
    EXPECT_EQ(model->countText(), QStringLiteral("0 exports"));
    EXPECT_FALSE(model->clearEnabled());

    // The next start reads an empty history.
    manager->reload();
    EXPECT_TRUE(manager->history().isEmpty());
}

} // namespace
