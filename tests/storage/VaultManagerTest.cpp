#include "storage/ConfigManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"

#include "support/StdoutCapture.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using testsupport::StdoutCapture;

const QString kResolveFailed = QStringLiteral("[VaultManager] Failed to resolve vault bookmark: ");
const QString kStale = QStringLiteral("[VaultManager] Bookmark is stale");

// A vault folder inside a parent that the test controls, so moves and replacements happen
// next to it.
class VaultBookmarkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(vault));
        UserPreferences preferences = config.preferences();
        preferences.destinationFolder = QStringLiteral("Kept Folder");
        config.save(preferences);
        StdoutCapture out;
        VaultManager(config).setVaultURL(vault);
        ASSERT_EQ(out.text(), QStringLiteral("[VaultManager] Saved bookmark for: ") + vault + QLatin1Char('\n'));
    }

    QTemporaryDir parent;
    QString vault = parent.path() + QStringLiteral("/My Vault");
    UserDefaults defaults{parent.path() + QStringLiteral("/store.conf")};
    ConfigManager config{defaults};
};

TEST_F(VaultBookmarkTest, FreshBookmarkResolvesSilentlyAndKeepsTheDestination)
{
    EXPECT_EQ(config.preferences().destinationFolder, QStringLiteral("Kept Folder"));
    StdoutCapture out;
    EXPECT_EQ(VaultManager(config).getVaultURL(), vault);
    // A fresh manager reading the store finds the same folder.
    ConfigManager reread(defaults);
    EXPECT_EQ(VaultManager(reread).getVaultURL(), vault);
    EXPECT_EQ(out.text(), QString());
}

TEST_F(VaultBookmarkTest, AnotherFolderAtTheSamePathIsStaleButUsed)
{
    // The old folder is kept elsewhere so the new one cannot reuse its inode.
    ASSERT_TRUE(QDir().rename(vault, parent.path() + QStringLiteral("/Old Vault")));
    ASSERT_TRUE(QDir().mkpath(vault));
    StdoutCapture out;
    EXPECT_EQ(VaultManager(config).getVaultURL(), vault);
    EXPECT_EQ(out.text(), kStale + QLatin1Char('\n'));
}

TEST_F(VaultBookmarkTest, MovedFolderIsFoundNearItsOldPlace)
{
    struct Case {
        const char* name;
        QString newPath;
    };
    const std::vector<Case> cases = {
        {"renamed within its parent", parent.path() + QStringLiteral("/Renamed Vault")},
        {"moved into a sibling folder", parent.path() + QStringLiteral("/Archive/My Vault")},
    };
    QString current = vault;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(c.newPath).path()));
        ASSERT_TRUE(QDir().rename(current, c.newPath));
        current = c.newPath;
        StdoutCapture out;
        EXPECT_EQ(VaultManager(config).getVaultURL(), c.newPath);
        EXPECT_FALSE(out.text().contains(kResolveFailed));
    }
}

TEST_F(VaultBookmarkTest, DeletedFolderGivesNoVaultAndPrintsTheErrorEachTime)
{
    // Folders of another identity near the old place are not mistaken for the vault.
    ASSERT_TRUE(QDir().mkpath(parent.path() + QStringLiteral("/Unrelated/Inner")));
    ASSERT_TRUE(QDir(vault).removeRecursively());
    StdoutCapture out;
    EXPECT_EQ(VaultManager(config).getVaultURL(), std::nullopt);
    EXPECT_EQ(VaultManager(config).getVaultURL(), std::nullopt);
    const QString text = out.text();
    EXPECT_EQ(text.count(kResolveFailed), 2) << text.toStdString();
    EXPECT_TRUE(text.startsWith(kResolveFailed));
}

// File systems hand a freed inode to the next new file; a folder made after the vault was
// deleted can carry its device and inode numbers and must still not be taken for it.
TEST_F(VaultBookmarkTest, NewFolderReusingTheDeletedVaultsInodeIsNotTheVault)
{
    struct stat before{};
    ASSERT_EQ(::stat(QFile::encodeName(vault).constData(), &before), 0);
    ASSERT_TRUE(QDir(vault).removeRecursively());
    QString reused;
    for (int i = 0; i < 20 && reused.isEmpty(); ++i) {
        const QString candidate = parent.path() + QStringLiteral("/New %1").arg(i);
        ASSERT_TRUE(QDir().mkpath(candidate));
        struct stat info{};
        ASSERT_EQ(::stat(QFile::encodeName(candidate).constData(), &info), 0);
        if (info.st_ino == before.st_ino && info.st_dev == before.st_dev) {
            reused = candidate;
        }
    }
    if (reused.isEmpty()) {
        GTEST_SKIP() << "this file system did not reuse the inode, nothing to tell apart";
    }
    struct statx birth{};
    const bool hasBirth = ::statx(AT_FDCWD, QFile::encodeName(reused).constData(), 0, STATX_BTIME, &birth) == 0
        && (birth.stx_mask & STATX_BTIME);
    const int fd = ::open(QFile::encodeName(reused).constData(), O_RDONLY | O_DIRECTORY);
    int generation = 0;
    const bool hasGeneration = fd >= 0 && ::ioctl(fd, FS_IOC_GETVERSION, &generation) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!hasBirth && !hasGeneration) {
        GTEST_SKIP() << "this file system reports neither inode generations nor birth times";
    }
    StdoutCapture out;
    EXPECT_EQ(VaultManager(config).getVaultURL(), std::nullopt);
    EXPECT_TRUE(out.text().startsWith(kResolveFailed));
}

TEST_F(VaultBookmarkTest, FolderThatCannotBeStatedKeepsTheOldBookmark)
{
    const auto before = config.preferences();
    for (const QString& bad : {parent.path() + QStringLiteral("/missing"), defaults.filePath()}) {
        SCOPED_TRACE(bad.toStdString());
        StdoutCapture out;
        VaultManager(config).setVaultURL(bad);
        EXPECT_TRUE(out.text().startsWith(QStringLiteral("[VaultManager] Failed to create bookmark for vault: ")));
        EXPECT_EQ(config.preferences(), before);
        EXPECT_EQ(VaultManager(config).getVaultURL(), vault);
    }
}

TEST(VaultBookmark, NoBookmarkOrUnreadableBookmark)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + QStringLiteral("/store.conf"));
    ConfigManager config(defaults);
    {
        StdoutCapture out;
        EXPECT_EQ(VaultManager(config).getVaultURL(), std::nullopt);
        EXPECT_EQ(out.text(), QString());
    }
    for (const QByteArray& bytes : {QByteArray("not json"), QByteArray(R"({"path":"/x","device":"1","inode":2})"),
             QByteArray(R"({"path":"/x","device":1})")}) {
        SCOPED_TRACE(bytes.toStdString());
        config.save({bytes, QStringLiteral("Inbox")});
        StdoutCapture out;
        EXPECT_EQ(VaultManager(config).getVaultURL(), std::nullopt);
        EXPECT_TRUE(out.text().startsWith(kResolveFailed));
    }
}

} // namespace
