#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"
#include "ui/UiModule.h"

#include "HistoryTestSupport.h"
#include "support/QmlWarningGuard.h"
#include "support/TestSupport.h"
#include "support/UrlRecorder.h"
#include "support/WindowImages.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>
#include <QPalette>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

namespace {

using historytest::makeItem;
using testsupport::UrlRecorder;

const QString kKey = QStringLiteral("MossbridgeExportHistory");

// Every item under `root` (popups included, as they live in the window's overlay) with that name.
QList<QQuickItem*> findItems(QQuickItem* root, const QString& name)
{
    QList<QQuickItem*> found;
    if (root == nullptr) {
        return found;
    }
    if (root->objectName() == name) {
        found.append(root);
    }
    for (QQuickItem* child : root->childItems()) {
        found.append(findItems(child, name));
    }
    return found;
}

QList<QQuickItem*> visibleItems(QQuickItem* root, const QString& name)
{
    QList<QQuickItem*> result;
    for (QQuickItem* item : findItems(root, name)) {
        if (item->isVisible()) {
            result.append(item);
        }
    }
    return result;
}

QPoint centreOf(QQuickItem* item)
{
    return item->mapToScene(QPointF(item->width() / 2, item->height() / 2)).toPoint();
}

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(0x1e, 0x1e, 0x1e);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, QColor(0xf2, 0xf2, 0xf2));
    palette.setColor(QPalette::Base, QColor(0x2b, 0x2b, 0x2b));
    palette.setColor(QPalette::Text, QColor(0xf2, 0xf2, 0xf2));
    palette.setColor(QPalette::Button, QColor(0x33, 0x33, 0x33));
    palette.setColor(QPalette::ButtonText, QColor(0xf2, 0xf2, 0xf2));
    return palette;
}

// The main window as the shell hosts it, over the shared history in this test's temporary store.
class MainViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        QDir().mkpath(vault);
        VaultManager(ConfigManager::shared()).setVaultURL(vault);
        history().clear();
        UiModule::registerTypes();
    }

    void TearDown() override
    {
        view.reset();
        QGuiApplication::setPalette(QPalette());
        EXPECT_TRUE(guard.warnings().isEmpty()) << guard.warnings().join('\n').toStdString();
    }

    static ExportHistoryManager& history() { return ExportHistoryManager::shared(); }

    QString writeNote(const QString& relative) { return historytest::writeNote(vault, relative); }

    void addSample()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const QDate today = now.date();
        const QDateTime lastMonth(today.addMonths(-1).addDays(-today.day() + 1).addDays(9), QTime(15, 30));
        const QList<ExportHistoryItem> newestFirst = {
            makeItem(QStringLiteral("Planning the garden beds for spring"), writeNote(QStringLiteral("Chats/Garden beds.md")), now.addSecs(-20)),
            makeItem(QStringLiteral("Untitled chat"), QStringLiteral("Chats/Untitled.md"), now.addSecs(-30), false,
                QStringLiteral("Could not write the note: the vault folder is not writable")),
            makeItem(QStringLiteral("Sourdough starter troubleshooting"), writeNote(QStringLiteral("Chats/Sourdough.md")),
                now.addSecs(-qMin<qint64>(QTime(0, 0).secsTo(now.time()) - 1, 2 * 3600 + 60))),
            makeItem(QStringLiteral("Trip itinerary: Lisbon & Porto"), writeNote(QStringLiteral("Travel/Lisbon.md")),
                QDateTime(today.addDays(-1), QTime(18, 45))),
            makeItem(QStringLiteral("Rust lifetimes explained"), writeNote(QStringLiteral("Learning/Rust lifetimes.md")), lastMonth),
            makeItem(QStringLiteral("Quarterly budget review"), writeNote(QStringLiteral("Work/Budget.md")), lastMonth.addDays(-3)),
        };
        for (qsizetype i = newestFirst.size() - 1; i >= 0; --i) {
            history().add(newestFirst.at(i));
        }
        history().refreshFileExistence();
    }

    QQuickItem* showView()
    {
        view = std::make_unique<QQuickView>();
        view->setResizeMode(QQuickView::SizeRootObjectToView);
        view->setTitle(QStringLiteral("Mossbridge"));
        view->setMinimumSize(QSize(720, 500));
        view->setSource(UiModule::viewUrl(QStringLiteral("MainView")));
        EXPECT_EQ(view->status(), QQuickView::Ready);
        view->resize(720, 500);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        testsupport::processEventsFor(std::chrono::milliseconds(50));
        return view->rootObject();
    }

    QQuickItem* scene() const { return view->contentItem(); }

    void click(QQuickItem* item, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(view.get(), button, {}, centreOf(item));
        testsupport::processEventsFor(std::chrono::milliseconds(50));
    }

    QStringList visibleTexts(const QString& name)
    {
        QStringList texts;
        for (QQuickItem* item : visibleItems(scene(), name)) {
            texts.append(item->property("text").toString());
        }
        return texts;
    }

    testsupport::QmlWarningGuard guard;
    QTemporaryDir dir;
    QString vault = dir.path() + QStringLiteral("/My Vault");
    std::unique_ptr<QQuickView> view;
    UrlRecorder obsidian {QStringLiteral("obsidian")};
};

TEST_F(MainViewTest, EveryViewCompiles)
{
    QQmlEngine engine;
    for (const char* name : {"MainView", "ContentAreaView", "HistoryList", "HistoryItemView",
             "EmptyHistoryState", "ClearHistoryDialog"}) {
        SCOPED_TRACE(name);
        QQmlComponent component(&engine, UiModule::viewUrl(QString::fromLatin1(name)));
        EXPECT_TRUE(component.isReady()) << component.errorString().toStdString();
    }
}

TEST_F(MainViewTest, AnEmptyHistoryShowsTheEmptyState)
{
    showView();
    EXPECT_EQ(visibleTexts(QStringLiteral("historyCount")), QStringList {QStringLiteral("0 exports")});
    ASSERT_EQ(findItems(scene(), QStringLiteral("clearHistoryButton")).size(), 1);
    EXPECT_FALSE(findItems(scene(), QStringLiteral("clearHistoryButton")).at(0)->isEnabled());
    EXPECT_EQ(visibleItems(scene(), QStringLiteral("emptyHistoryState")).size(), 1);
    EXPECT_TRUE(visibleItems(scene(), QStringLiteral("historyList")).isEmpty());
    EXPECT_TRUE(visibleItems(scene(), QStringLiteral("historyFooter")).isEmpty());
    EXPECT_FALSE(testsupport::saveWindowImage(*view, QStringLiteral("main-empty")).isEmpty());

    QGuiApplication::setPalette(darkPalette());
    EXPECT_FALSE(testsupport::saveWindowImage(*view, QStringLiteral("main-empty-dark")).isEmpty());
}

TEST_F(MainViewTest, GroupsShowInHistoryOrderWithDividersAndTheFooter)
{
    addSample();
    showView();

    QStringList expected;
    for (const auto& group : history().getGroupedHistory()) {
        expected.append(group.first);
    }
    ASSERT_GE(expected.size(), 3);
    EXPECT_EQ(expected.at(0), QStringLiteral("Today"));
    EXPECT_EQ(expected.at(1), QStringLiteral("Yesterday"));
    EXPECT_EQ(visibleTexts(QStringLiteral("historyGroupTitle")), expected);

    QList<int> dividersPerGroup;
    QList<int> expectedDividers;
    for (QQuickItem* group : visibleItems(scene(), QStringLiteral("historyGroup"))) {
        dividersPerGroup.append(static_cast<int>(visibleItems(group, QStringLiteral("historyDivider")).size()));
    }
    for (const auto& group : history().getGroupedHistory()) {
        expectedDividers.append(static_cast<int>(group.second.size()) - 1);
    }
    EXPECT_EQ(dividersPerGroup, expectedDividers);
    EXPECT_EQ(visibleTexts(QStringLiteral("historyCount")), QStringList {QStringLiteral("6 exports")});
    EXPECT_EQ(visibleItems(scene(), QStringLiteral("historyFooter")).size(), 1);
    EXPECT_TRUE(visibleItems(scene(), QStringLiteral("emptyHistoryState")).isEmpty());
    EXPECT_EQ(visibleTexts(QStringLiteral("historyItemError")),
        QStringList {QStringLiteral("Could not write the note: the vault folder is not writable")});
    EXPECT_FALSE(testsupport::saveWindowImage(*view, QStringLiteral("main-groups")).isEmpty());

    QGuiApplication::setPalette(darkPalette());
    EXPECT_FALSE(testsupport::saveWindowImage(*view, QStringLiteral("main-groups-dark")).isEmpty());
}

TEST_F(MainViewTest, AMissingRowIgnoresClicksAndItsMenuDisablesOpenAndShow)
{
    addSample();
    ASSERT_TRUE(QFile::remove(vault + QStringLiteral("/Chats/Garden beds.md")));
    QGuiApplication::setPalette(darkPalette());
    showView();
    // The failed export left no file.
    EXPECT_EQ(visibleItems(scene(), QStringLiteral("historyItemMissingBadge")).size(), 1);

    // The file went after the last refresh: the click refreshes and the row turns missing.
    QQuickItem* first = visibleItems(scene(), QStringLiteral("historyItem")).value(0);
    ASSERT_NE(first, nullptr);
    click(first);
    EXPECT_TRUE(obsidian.urls.isEmpty());
    ASSERT_EQ(visibleItems(scene(), QStringLiteral("historyItemMissingBadge")).size(), 2);

    first = visibleItems(scene(), QStringLiteral("historyItem")).value(0);
    click(first);
    EXPECT_TRUE(obsidian.urls.isEmpty());
    EXPECT_FALSE(testsupport::saveWindowImage(*view, QStringLiteral("main-missing")).isEmpty());

    click(first, Qt::RightButton);
    const auto enabledOf = [this](const char* name) {
        const QList<QQuickItem*> items = visibleItems(scene(), QString::fromLatin1(name));
        return items.size() == 1 && items.at(0)->isEnabled();
    };
    ASSERT_EQ(visibleItems(scene(), QStringLiteral("menuCopyLink")).size(), 1);
    EXPECT_FALSE(enabledOf("menuOpenInObsidian"));
    EXPECT_FALSE(enabledOf("menuShowInFolder"));
    EXPECT_TRUE(enabledOf("menuCopyLink"));
    EXPECT_FALSE(testsupport::saveWindowImage(*view, QStringLiteral("main-missing-menu")).isEmpty());

    click(visibleItems(scene(), QStringLiteral("menuCopyLink")).at(0));
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
        QStringLiteral("obsidian://open?vault=My%20Vault&file=Chats/Garden%20beds.md"));
}

TEST_F(MainViewTest, AClickOpensAPresentNoteAndHoverShowsTheArrow)
{
    addSample();
    showView();
    QQuickItem* present = visibleItems(scene(), QStringLiteral("historyItem")).value(2);
    ASSERT_NE(present, nullptr);

    QTest::mouseMove(view.get(), centreOf(present));
    testsupport::processEventsFor(std::chrono::milliseconds(400));
    EXPECT_TRUE(present->property("isHovering").toBool());
    const QList<QQuickItem*> arrows = visibleItems(present, QStringLiteral("historyItemArrow"));
    ASSERT_EQ(arrows.size(), 1);
    EXPECT_DOUBLE_EQ(arrows.at(0)->opacity(), 0.5);
    EXPECT_FALSE(testsupport::saveWindowImage(*view, QStringLiteral("main-hovered")).isEmpty());

    click(present);
    ASSERT_EQ(obsidian.urls.size(), 1);
    EXPECT_EQ(obsidian.urls.at(0).toString(QUrl::FullyEncoded),
        QStringLiteral("obsidian://open?vault=My%20Vault&file=Chats/Sourdough.md"));
}

TEST_F(MainViewTest, ClearAsksFirstAndCancelKeepsEverything)
{
    addSample();
    showView();
    ASSERT_TRUE(UserDefaults::standard().data(kKey).has_value());
    QObject* dialog = view->rootObject()->findChild<QObject*>(QStringLiteral("clearConfirm"));
    ASSERT_NE(dialog, nullptr);

    click(findItems(scene(), QStringLiteral("clearHistoryButton")).at(0));
    ASSERT_TRUE(dialog->property("opened").toBool() || dialog->property("visible").toBool());
    testsupport::processEventsFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(testsupport::saveWindowImage(*view, QStringLiteral("main-clear-confirm")).isEmpty());

    click(visibleItems(scene(), QStringLiteral("clearConfirmCancel")).value(0));
    ASSERT_TRUE(testsupport::waitUntil([dialog] { return !dialog->property("visible").toBool(); }));
    EXPECT_EQ(history().history().size(), 6);
    EXPECT_TRUE(UserDefaults::standard().data(kKey).has_value());

    // Asked again, "Clear" empties the list and removes the stored key; the notes stay.
    click(findItems(scene(), QStringLiteral("clearHistoryButton")).at(0));
    ASSERT_TRUE(testsupport::waitUntil([dialog] { return dialog->property("opened").toBool(); }));
    click(visibleItems(scene(), QStringLiteral("clearConfirmClear")).value(0));
    ASSERT_TRUE(testsupport::waitUntil([dialog] { return !dialog->property("visible").toBool(); }));
    EXPECT_TRUE(history().history().isEmpty());
    EXPECT_TRUE(history().recentSuccessfulExports().isEmpty());
    EXPECT_FALSE(UserDefaults::standard().data(kKey).has_value());
    EXPECT_TRUE(QFileInfo::exists(vault + QStringLiteral("/Chats/Garden beds.md")));
    EXPECT_EQ(visibleTexts(QStringLiteral("historyCount")), QStringList {QStringLiteral("0 exports")});
    EXPECT_EQ(visibleItems(scene(), QStringLiteral("emptyHistoryState")).size(), 1);
    EXPECT_FALSE(findItems(scene(), QStringLiteral("clearHistoryButton")).at(0)->isEnabled());
}

} // namespace
