#include "platform/Workspace.h"

#include "FakeFileManager.h"
#include "support/TestSupport.h"
#include "support/UrlRecorder.h"

#include <QDBusConnection>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

namespace {

using platformtest::FakeFileManager;
using testsupport::UrlRecorder;

class WorkspaceRevealTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QDBusConnection::sessionBus().isConnected()) {
            GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        }
        QDir().mkpath(folder);
        QFile file(note);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }

    QTemporaryDir dir;
    QString folder = dir.path() + QStringLiteral("/My Vault/Chats #1");
    QString note = folder + QStringLiteral("/Some note.md");
    UrlRecorder opened {QStringLiteral("file")};
};

TEST_F(WorkspaceRevealTest, TheFileManagerReceivesTheFileUri)
{
    FakeFileManager fileManager;
    ASSERT_TRUE(fileManager.isRegistered());

    Workspace::revealFile(note);

    ASSERT_TRUE(testsupport::waitUntil([&] { return !fileManager.shownItems.isEmpty(); }));
    EXPECT_EQ(fileManager.shownItems.at(0), QStringList {QUrl::fromLocalFile(note).toString(QUrl::FullyEncoded)});
    EXPECT_TRUE(fileManager.shownItems.at(0).at(0).startsWith(QStringLiteral("file:///")));
    EXPECT_TRUE(fileManager.shownItems.at(0).at(0).endsWith(QStringLiteral("/My%20Vault/Chats%20%231/Some%20note.md")));
    // The answer arrived and nothing else was opened.
    testsupport::processEventsFor(std::chrono::milliseconds(100));
    EXPECT_TRUE(opened.urls.isEmpty());
}

TEST_F(WorkspaceRevealTest, WithoutAWorkingFileManagerTheFolderOpens)
{
    for (const bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "file manager answers with an error" : "no file manager on the bus");
        opened.urls.clear();
        std::unique_ptr<FakeFileManager> fileManager;
        if (failing) {
            fileManager = std::make_unique<FakeFileManager>(true);
            ASSERT_TRUE(fileManager->isRegistered());
        }

        Workspace::revealFile(note);

        ASSERT_TRUE(testsupport::waitUntil([&] { return !opened.urls.isEmpty(); }));
        EXPECT_EQ(opened.urls, QList<QUrl> {QUrl::fromLocalFile(folder)});
        if (failing) {
            EXPECT_EQ(fileManager->shownItems.size(), 1);
        }
    }
}

} // namespace
