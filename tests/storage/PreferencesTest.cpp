#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/UserDefaults.h"
#include "storage/UserPreferences.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

const QString kKey = QStringLiteral("UserPreferences");

class PreferencesTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString storePath = dir.path() + QStringLiteral("/Mossbridge.conf");
    UserDefaults defaults{storePath};
};

TEST_F(PreferencesTest, NothingStoredGivesDefaultsAndWritesNothing)
{
    ConfigManager config(defaults);
    const UserPreferences preferences = config.preferences();
    EXPECT_FALSE(preferences.vaultBookmark.has_value());
    EXPECT_EQ(preferences.destinationFolder, QStringLiteral("Mossbridge Inbox"));
    EXPECT_FALSE(defaults.data(kKey).has_value());
}

TEST_F(PreferencesTest, OnlyBookmarkStoredLeavesDestinationUnset)
{
    defaults.setData(kKey, R"({"vaultBookmark":"AAEC/w=="})");
    ConfigManager config(defaults);
    const UserPreferences preferences = config.preferences();
    EXPECT_EQ(preferences.vaultBookmark, QByteArray::fromHex("000102ff"));
    EXPECT_FALSE(preferences.destinationFolder.has_value());
}

TEST_F(PreferencesTest, UndecodableRecordGivesDefaults)
{
    const std::vector<QByteArray> corrupt = {
        "not json at all",
        QByteArray("\xff\xfe\x00garbage", 10),
        "[]",
        R"("just a string")",
        R"({"vaultBookmark":5})",
        R"({"vaultBookmark":"not*base64!"})",
        R"({"destinationFolder":true})",
        R"({"destinationFolder":["a"]})",
        R"({"vaultBookmark":"AAEC","destinationFolder":7})",
    };
    for (const QByteArray& bytes : corrupt) {
        SCOPED_TRACE(bytes.toStdString());
        defaults.setData(kKey, bytes);
        ConfigManager config(defaults);
        EXPECT_EQ(config.preferences(), (UserPreferences{std::nullopt, QStringLiteral("Mossbridge Inbox")}));
        // The bad record stays until the next save replaces it (the store keeps text, so
        // bytes that are not UTF-8 come back with replacement characters).
        EXPECT_EQ(defaults.data(kKey), QString::fromUtf8(bytes).toUtf8());
    }
}

TEST_F(PreferencesTest, SavedRecordIsReadBackByAFreshManager)
{
    const std::vector<UserPreferences> records = {
        {QByteArray("bookmark\0bytes", 14), QStringLiteral("Notes/Chats")},
        // "" is the vault's root and must survive, not turn back into the default folder.
        {QByteArray("x"), QString()},
        {std::nullopt, QStringLiteral("Ünïcödé, \"quoted\" = [ok]")},
        {std::nullopt, std::nullopt},
    };
    for (const UserPreferences& record : records) {
        ConfigManager writer(defaults);
        writer.save(record);
        EXPECT_EQ(writer.preferences(), record);
        ConfigManager reader(defaults);
        EXPECT_EQ(reader.preferences(), record);
    }
}

TEST_F(PreferencesTest, StoredFormIsJsonTextWithBase64AndNoEmptyKeys)
{
    ConfigManager config(defaults);
    config.save({QByteArray::fromHex("000102ff"), std::nullopt});

    // Another reader of the INI file sees the JSON text as a plain string value.
    QSettings settings(storePath, QSettings::IniFormat);
    const QVariant raw = settings.value(kKey);
    EXPECT_EQ(raw.typeId(), QMetaType::QString);
    const QJsonObject object = QJsonDocument::fromJson(raw.toString().toUtf8()).object();
    EXPECT_EQ(object.value(QStringLiteral("vaultBookmark")).toString(), QStringLiteral("AAEC/w=="));
    EXPECT_FALSE(object.contains(QStringLiteral("destinationFolder")));

    EXPECT_EQ(UserPreferences{}.toJson(), QByteArray("{}"));
}

TEST_F(PreferencesTest, UserDefaultsKeepsValuesAcrossInstancesAndThreads)
{
    defaults.setBool(QStringLiteral("HasLaunchedBefore"), true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 25; ++i) {
                defaults.setData(QStringLiteral("key%1").arg(t), QByteArray::number(i));
                (void)defaults.data(QStringLiteral("key%1").arg((t + 1) % 4));
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    UserDefaults other(storePath);
    EXPECT_TRUE(other.boolValue(QStringLiteral("HasLaunchedBefore")));
    EXPECT_FALSE(other.boolValue(QStringLiteral("NeverSet")));
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(other.data(QStringLiteral("key%1").arg(t)), QByteArray("24"));
    }
    other.remove(QStringLiteral("key0"));
    EXPECT_FALSE(defaults.data(QStringLiteral("key0")).has_value());
}

TEST(SharedStore, DefaultPathFollowsConfigHomeAndSharedInstancesCanBeRepointed)
{
    EXPECT_EQ(UserDefaults::defaultPath(),
        QStandardPaths::writableLocation(QStandardPaths::ConfigLocation)
            + QStringLiteral("/Mossbridge/Mossbridge.conf"));

    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/store.conf");
    {
        UserDefaults seed(path);
        seed.setData(kKey, R"({"destinationFolder":"Elsewhere"})");
        seed.setData(QStringLiteral("MossbridgeExportHistory"),
            R"([{"title":"T","finalPath":"/abs/T.md","vaultName":"V","timestamp":1e9,"success":true}])");
    }
    const QString previous = UserDefaults::standard().filePath();
    UserDefaults::setStandardPath(path);
    ConfigManager::shared().reload();
    ExportHistoryManager::shared().reload();

    EXPECT_EQ(ConfigManager::shared().preferences().destinationFolder, QStringLiteral("Elsewhere"));
    ASSERT_EQ(ExportHistoryManager::shared().history().size(), 1);
    EXPECT_EQ(ExportHistoryManager::shared().history().first().finalPath, QStringLiteral("/abs/T.md"));

    UserDefaults::setStandardPath(previous);
    ConfigManager::shared().reload();
    ExportHistoryManager::shared().reload();
    EXPECT_EQ(ConfigManager::shared().preferences().destinationFolder, QStringLiteral("Mossbridge Inbox"));
    EXPECT_TRUE(ExportHistoryManager::shared().history().isEmpty());
}

} // namespace
