#include "ui/HistoryItemViewModel.h"
#include "ui/HistoryListModel.h"
#include "ui/RelativeDateText.h"
#include "ui/SymbolImage.h"

#include "HistoryTestSupport.h"
#include "support/TestSupport.h"
#include "support/UrlRecorder.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QLocale>

#include <gtest/gtest.h>

namespace {

using historytest::HistoryFixture;
using historytest::makeItem;
using testsupport::UrlRecorder;
using Tone = HistoryItemViewModel::Tone;

class HistoryItemViewModelTest : public ::testing::Test, protected HistoryFixture {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void TearDown() override { QLocale::setDefault(QLocale::system()); }

    UrlRecorder obsidian {QStringLiteral("obsidian")};
    UrlRecorder files {QStringLiteral("file")};
};

TEST_F(HistoryItemViewModelTest, RowStates)
{
    const QString present = writeNote(QStringLiteral("Chats/Some note.md"));
    struct Case {
        const char* name;
        ExportHistoryItem item;
        const char* icon;
        Tone iconTone;
        Tone tileTone;
        bool missing;
        const char* error;
        bool clickOpens;
    };
    const Case cases[] = {
        {"success", makeItem(QStringLiteral("Chat"), present, now.addSecs(-7200), true, std::nullopt, true),
            "doc.text", Tone::Secondary, Tone::Secondary, false, "", true},
        {"failure with unknown file state, a file at its path",
            makeItem(QStringLiteral("Chat"), present, now.addSecs(-7200), false, QStringLiteral("Vault not found")),
            "exclamationmark.triangle", Tone::Red, Tone::Secondary, false, "Vault not found", true},
        {"empty error message", makeItem(QStringLiteral("Chat"), present, now, false, QString(), true),
            "exclamationmark.triangle", Tone::Red, Tone::Secondary, false, "", true},
        {"missing", makeItem(QStringLiteral("Chat"), QStringLiteral("Chats/Gone note.md"), now, true, std::nullopt, false),
            "exclamationmark.triangle.fill", Tone::Orange, Tone::Red, true, "", false},
        {"failed and missing",
            makeItem(QStringLiteral("Chat"), QStringLiteral("x.md"), now, false, QStringLiteral("boom"), false),
            "exclamationmark.triangle.fill", Tone::Orange, Tone::Red, true, "boom", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        obsidian.urls.clear();
        int published = 0;
        QMetaObject::Connection counting = QObject::connect(
            manager.get(), &ExportHistoryManager::historyChanged, [&published] { ++published; });

        HistoryItemViewModel row(*manager, c.item, now, false);
        EXPECT_EQ(row.iconName(), QString::fromLatin1(c.icon));
        EXPECT_TRUE(SymbolImage::hasSymbol(row.iconName()));
        EXPECT_EQ(row.iconTone(), c.iconTone);
        EXPECT_EQ(row.tileTone(), c.tileTone);
        EXPECT_EQ(row.isMissing(), c.missing);
        EXPECT_EQ(row.openEnabled(), !c.missing);
        EXPECT_EQ(row.showInFolderEnabled(), !c.missing);
        EXPECT_EQ(row.showsHoverArrow(), !c.missing);
        EXPECT_EQ(row.hasError(), *c.error != '\0');
        EXPECT_EQ(row.errorText(), QString::fromLatin1(c.error));

        row.activate();
        if (c.clickOpens) {
            ASSERT_EQ(obsidian.urls.size(), 1);
            EXPECT_EQ(obsidian.urls.at(0), row.obsidianUrl());
        } else {
            // Ignored outright: no check, no refresh, nothing opened.
            EXPECT_TRUE(obsidian.urls.isEmpty());
            EXPECT_EQ(published, 0);
        }
        QObject::disconnect(counting);
    }
}

TEST_F(HistoryItemViewModelTest, CopyLinkPutsTheExactLinkOnTheClipboardEvenWhenMissing)
{
    struct Case {
        const char* vault;
        const char* path;
        const char* link;
    };
    const Case cases[] = {
        {"My Vault", "Chats/Gone note.md", "obsidian://open?vault=My%20Vault&file=Chats/Gone%20note.md"},
        {"A&B=C", "Q+A/50% #1?.md", "obsidian://open?vault=A%26B%3DC&file=Q%2BA/50%25%20%231%3F.md"},
        {"Vault", "Chats/Caf\u00e9.md", "obsidian://open?vault=Vault&file=Chats/Caf%C3%A9.md"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ExportHistoryItem item = makeItem(QStringLiteral("Chat"), QString::fromUtf8(c.path), now, true, std::nullopt, false);
        item.vaultName = QString::fromUtf8(c.vault);
        HistoryItemViewModel row(*manager, item, now, false);
        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        row.copyLink();
        EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromLatin1(c.link));
        EXPECT_EQ(row.obsidianUrl().toString(QUrl::FullyEncoded), QString::fromLatin1(c.link));
    }
}

TEST_F(HistoryItemViewModelTest, AClickOnAFileDeletedSinceTheLastRefreshRefreshesInsteadOfOpening)
{
    const QString path = writeNote(QStringLiteral("Chats/Deleted.md"));
    manager->add(makeItem(QStringLiteral("Deleted"), path, now.addSecs(-600)));
    manager->refreshFileExistence();
    HistoryListModel model(*manager, [this] { return now; });
    ASSERT_FALSE(model.groupRows(0).at(0)->isMissing());

    ASSERT_TRUE(QFile::remove(vault + QStringLiteral("/Chats/Deleted.md")));
    testsupport::LogRecorder log;
    model.groupRows(0).at(0)->activate();

    EXPECT_TRUE(obsidian.urls.isEmpty());
    EXPECT_TRUE(model.groupRows(0).at(0)->isMissing());
    EXPECT_EQ(model.groupRows(0).at(0)->iconName(), QStringLiteral("exclamationmark.triangle.fill"));

    // Now ignored, without another check.
    model.groupRows(0).at(0)->activate();
    EXPECT_TRUE(obsidian.urls.isEmpty());
}

TEST_F(HistoryItemViewModelTest, ContextMenuOpensAndRevealsThroughTheWorkspace)
{
    const QString path = writeNote(QStringLiteral("Chats/Shown.md"));
    HistoryItemViewModel row(*manager, makeItem(QStringLiteral("Shown"), path, now, true, std::nullopt, true), now, false);
    row.openInObsidian();
    ASSERT_EQ(obsidian.urls.size(), 1);
    EXPECT_EQ(obsidian.urls.at(0).toString(QUrl::FullyEncoded),
        QStringLiteral("obsidian://open?vault=My%20Vault&file=Chats/Shown.md"));

    // With no file manager on the bus, the note's folder opens.
    if (!QDBusConnection::sessionBus().isConnected()
        || !QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.FileManager1"))) {
        row.showInFolder();
        ASSERT_TRUE(testsupport::waitUntil([this] { return !files.urls.isEmpty(); }));
        EXPECT_EQ(files.urls.at(0), QUrl::fromLocalFile(vault + QStringLiteral("/Chats")));
    }
}

TEST_F(HistoryItemViewModelTest, MetaLineFolderName)
{
    struct Case {
        const char* path;
        const char* folder;
    };
    for (const Case& c : {Case {"Chats/Note.md", "Chats"}, Case {"Deep/Inner/Note.md", "Inner"},
             Case {"/abs/My Notes/Note.md", "My Notes"}, Case {"Note.md", ""}, Case {"/Note.md", "/"}}) {
        SCOPED_TRACE(c.path);
        HistoryItemViewModel row(*manager, makeItem(QStringLiteral("t"), QString::fromUtf8(c.path), now), now, false);
        EXPECT_EQ(row.folderName(), QString::fromUtf8(c.folder));
    }
}

TEST(RelativeDateText, AgeAgainstAFixedNow)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QDateTime now(QDate(2025, 5, 15), QTime(12, 0));
    struct Case {
        qint64 secondsAgo;
        const char* text;
    };
    const Case cases[] = {
        {0, "Just now"},
        {59, "Just now"},
        {60, "1 minute ago"},
        {61, "1 minute ago"},
        {7200, "2 hours ago"},
        {3 * 86400, "3 days ago"},
        {10 * 86400, "1 week ago"},
        {400 * 86400, "1 year ago"},
        {-1, "Just now"},
        {-3600, "Just now"},
        {-400 * 86400, "Just now"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.secondsAgo);
        EXPECT_EQ(RelativeDateText::formatDate(now.addSecs(-c.secondsAgo), now), QString::fromLatin1(c.text));
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(RelativeDateText::formatDate(now.addSecs(-7200), now), QStringLiteral("vor 2 Stunden"));
    QLocale::setDefault(QLocale::system());
}

} // namespace
