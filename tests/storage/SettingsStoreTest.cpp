#include "storage/ConfigManager.h"
#include "storage/ExportHistoryManager.h"
#include "storage/IniText.h"
#include "storage/UserDefaults.h"

#include "StorageTestSupport.h"
#include "support/ChildProcess.h"
#include "support/StdoutCapture.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QSettings>
#include <QSize>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using storagetest::readAll;
using testsupport::StdoutCapture;
using testsupport::runInChild;

const QString kPreferencesKey = QStringLiteral("UserPreferences");
const QString kHistoryKey = QStringLiteral("MossbridgeExportHistory");

// Texts that INI files and QSettings treat specially.
const QList<std::pair<QString, QString>> kAwkward = {
    {QStringLiteral("quotes"), QStringLiteral("say \"hi\" and \"\"")},
    {QStringLiteral("backslashes"), QStringLiteral("C:\\dir\\file \\\\ \\n not a newline")},
    {QStringLiteral("separators"), QStringLiteral("a, b; c = d,;=")},
    {QStringLiteral("nonAscii"), QStringLiteral("Grüße, 東京, emoji \U0001F600, é")},
    {QStringLiteral("lineBreaks"), QStringLiteral("one\ntwo\r\nthree\tfour\vfive")},
    {QStringLiteral("leadingAt"), QStringLiteral("@ByteArray(not bytes)")},
    {QStringLiteral("justAt"), QStringLiteral("@")},
    {QStringLiteral("spaces"), QStringLiteral("  padded  ")},
    {QStringLiteral("empty"), QString()},
    {QStringLiteral("controls"), QStringLiteral("bell\a back\b feed\f esc\x1b del\x7f hex\x01" "F")},
    {QStringLiteral("json"),
        QStringLiteral(R"({"vaultBookmark":"e30=","destinationFolder":"Notes; \"AI\", @x\\y\n"})")},
    {QStringLiteral("key with spaces/é and %"), QStringLiteral("a value under an awkward key")},
};

QByteArray runProbe(const QStringList& arguments)
{
    QProcess probe;
    probe.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    probe.start(QStringLiteral(MOSSBRIDGE_SETTINGS_PROBE), arguments);
    EXPECT_TRUE(probe.waitForFinished(30000));
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 0) << arguments.join(' ').toStdString();
    return probe.readAllStandardOutput();
}

// The file's values as an earlier version of the program reads them, in a fresh process.
QJsonObject readByEarlierVersion(const QString& file)
{
    return QJsonDocument::fromJson(runProbe({QStringLiteral("read"), file})).object();
}

QByteArray preferencesInAFreshProcess(const QString& file)
{
    return runProbe({QStringLiteral("preferences"), file});
}

ExportHistoryItem historyItem(const QString& title)
{
    ExportHistoryItem item;
    item.title = title;
    item.finalPath = QStringLiteral("Mossbridge Inbox/") + title.left(40) + QStringLiteral(".md");
    item.vaultName = QStringLiteral("My Vault");
    item.timestamp = QDateTime::currentDateTimeUtc();
    item.success = true;
    return item;
}

TEST(SettingsStore, TheFileIsTheTextQSettingsWritesForTheSameValues)
{
    QMap<QString, QVariant> values;
    for (const auto& [key, text] : kAwkward) {
        values.insert(key, text);
    }
    values.insert(QStringLiteral("HasLaunchedBefore"), true);
    values.insert(QStringLiteral("withNul"), QString::fromUtf8("a\0" "b1", 4));
    // Values only a hand-edited or foreign file holds, kept as they are when this one saves.
    values.insert(QStringLiteral("bytes"), QByteArray("\x01\xff" "abc", 5));
    values.insert(QStringLiteral("list"), QStringList{QStringLiteral("x"), QStringLiteral("y, z")});
    values.insert(QStringLiteral("listOfOne"), QStringList{QStringLiteral("x")});
    values.insert(QStringLiteral("emptyList"), QStringList{});
    values.insert(QStringLiteral("variantOfOne"), QVariantList{QVariant(1)});
    values.insert(QStringLiteral("number"), 42);
    values.insert(QStringLiteral("invalid"), QVariant());
    values.insert(QStringLiteral("rect"), QRect(1, 2, 3, 4));
    values.insert(QStringLiteral("size"), QSize(5, 6));
    values.insert(QStringLiteral("point"), QPoint(-7, 8));
    values.insert(QStringLiteral("date"), QDateTime(QDate(2025, 3, 1), QTime(12, 30), Qt::UTC));
    values.insert(QStringLiteral("Section/key"), QStringLiteral("in a section"));
    values.insert(QStringLiteral("general/key"), QStringLiteral("in a section named like the default one"));
    values.insert(QStringLiteral("a/b/c"), QStringLiteral("nested"));

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("qsettings.conf"));
    {
        QSettings settings(path, QSettings::IniFormat);
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            settings.setValue(it.key(), it.value());
        }
    }
    EXPECT_EQ(QString::fromUtf8(IniText::fromValues(values)), QString::fromUtf8(readAll(path)));
    EXPECT_EQ(IniText::fromValues({}), QByteArray());
}

TEST(SettingsStore, WhatThisVersionWritesEarlierVersionsReadAndTheOtherWayRound)
{
    QTemporaryDir dir;

    // Written here, read by an earlier version in a fresh process.
    const QString ours = dir.filePath(QStringLiteral("ours.conf"));
    {
        UserDefaults defaults(ours);
        for (const auto& [key, text] : kAwkward) {
            defaults.setData(key, text.toUtf8());
        }
        defaults.setBool(QStringLiteral("HasLaunchedBefore"), true);
    }
    QJsonObject read = readByEarlierVersion(ours);
    for (const auto& [key, text] : kAwkward) {
        EXPECT_EQ(read.value(key).toString(QStringLiteral("<missing>")), text) << key.toStdString();
    }
    EXPECT_EQ(read.value(QStringLiteral("HasLaunchedBefore")).toString(), QStringLiteral("true"));
    EXPECT_EQ(read.size(), kAwkward.size() + 1);

    // Written by an earlier version, read here; a change here keeps the rest as it was.
    const QString theirs = dir.filePath(QStringLiteral("theirs.conf"));
    QJsonObject written{{QStringLiteral("HasLaunchedBefore"), true}};
    for (const auto& [key, text] : kAwkward) {
        written.insert(key, text);
    }
    runProbe({QStringLiteral("write"), theirs, QString::fromUtf8(QJsonDocument(written).toJson(QJsonDocument::Compact))});
    UserDefaults defaults(theirs);
    for (const auto& [key, text] : kAwkward) {
        EXPECT_EQ(defaults.data(key), text.toUtf8()) << key.toStdString();
    }
    EXPECT_TRUE(defaults.boolValue(QStringLiteral("HasLaunchedBefore")));
    defaults.setData(QStringLiteral("quotes"), "changed");
    read = readByEarlierVersion(theirs);
    EXPECT_EQ(read.value(QStringLiteral("quotes")).toString(), QStringLiteral("changed"));
    for (const auto& [key, text] : kAwkward.mid(1)) {
        EXPECT_EQ(read.value(key).toString(QStringLiteral("<missing>")), text) << key.toStdString();
    }
}

TEST(SettingsStore, ChangesAnotherProcessMadeAreKeptWhenThisOneSaves)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Mossbridge.conf"));
    UserDefaults defaults(path);
    defaults.setData(QStringLiteral("ours"), "1");
    runProbe({QStringLiteral("write"), path, QStringLiteral(R"({"theirs":"2"})")});
    EXPECT_EQ(defaults.data(QStringLiteral("theirs")), QByteArray("2"));
    defaults.setData(QStringLiteral("later"), "3");
    const QJsonObject read = readByEarlierVersion(path);
    EXPECT_EQ(read, (QJsonObject{{QStringLiteral("ours"), QStringLiteral("1")}, {QStringLiteral("theirs"), QStringLiteral("2")},
                        {QStringLiteral("later"), QStringLiteral("3")}}));
}

// The user's vault and folder, and a short history, in a store of their own.
class FailedSaveTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StdoutCapture quiet;
        config.save(preferences);
        history.add(historyItem(QStringLiteral("Earlier chat")));
        oldBytes = readAll(path);
        ASSERT_FALSE(oldBytes.isEmpty());
        oldHistory = readByEarlierVersion(path).value(kHistoryKey).toString();
        ASSERT_TRUE(oldHistory.contains(QStringLiteral("Earlier chat")));
    }

    // In the child: an export whose history entry makes the file larger than the disk allows.
    QJsonObject addLargeEntry()
    {
        StdoutCapture quiet;
        testsupport::LogRecorder log;
        history.add(historyItem(QString(9 * 1024, QLatin1Char('T'))));
        const QStringList lines = testsupport::deliveredLogLines(log);
        return {
            {QStringLiteral("errors"), QJsonArray::fromStringList(lines.filter(QStringLiteral("[ERR] ")))},
            {QStringLiteral("inMemory"), history.history().size()},
            {QStringLiteral("storeHasIt"),
                QString::fromUtf8(defaults.data(kHistoryKey).value_or(QByteArray())).contains(QStringLiteral("TTTT"))},
        };
    }

    // The old file is still there to the byte, and a fresh process reads the old settings.
    void expectOldFileIntact()
    {
        EXPECT_EQ(readAll(path), oldBytes);
        EXPECT_EQ(preferencesInAFreshProcess(path), preferences.toJson());
        EXPECT_EQ(readByEarlierVersion(path).value(kHistoryKey).toString(), oldHistory);
    }

    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Mossbridge.conf"));
    UserDefaults defaults{path};
    ConfigManager config{defaults};
    ExportHistoryManager history{defaults, config};
    UserPreferences preferences{QByteArray(R"({"path":"/home/u/Vault","device":1,"inode":2})"), QStringLiteral("Chats")};
    QByteArray oldBytes;
    QString oldHistory;
};

TEST_F(FailedSaveTest, TheOldFileStaysTheFailureIsLoggedAndTheChangeIsSavedLater)
{
    const QString expectedError = QStringLiteral("[ERR] Could not save the setting \"MossbridgeExportHistory\": "
                                                 "Could not write \"%1\": File too large")
                                      .arg(path);
    const auto failed = runInChild([&] {
        testsupport::limitFileSize(oldBytes.size() + 1024);
        return addLargeEntry();
    });
    ASSERT_TRUE(failed);
    EXPECT_EQ(testsupport::sortedStrings(failed->value(QStringLiteral("errors"))), QStringList{expectedError});
    // The run goes on with the change.
    EXPECT_EQ(failed->value(QStringLiteral("inMemory")).toInt(), 2);
    EXPECT_TRUE(failed->value(QStringLiteral("storeHasIt")).toBool());
    expectOldFileIntact();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Mossbridge.conf")});

    // Once there is room again, the next save of anything writes the earlier change too.
    const auto later = runInChild([&] {
        testsupport::limitFileSize(oldBytes.size() + 1024);
        QJsonObject report = addLargeEntry();
        testsupport::liftFileSizeLimit();
        config.save({preferences.vaultBookmark, QStringLiteral("Elsewhere")});
        return report;
    });
    ASSERT_TRUE(later);
    EXPECT_EQ(testsupport::sortedStrings(later->value(QStringLiteral("errors"))), QStringList{expectedError});
    EXPECT_TRUE(readByEarlierVersion(path).value(kHistoryKey).toString().contains(QString(9 * 1024, QLatin1Char('T'))));
    EXPECT_TRUE(preferencesInAFreshProcess(path).contains("\"destinationFolder\":\"Elsewhere\""));
}

TEST_F(FailedSaveTest, OnAFullDiskTheSettingsFileIsNeverCut)
{
    if (!testsupport::canMountTmpfs()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    // The folder gets a tmpfs of its own in the child; the store's file moves onto it first.
    const auto report = runInChild([&] {
        if (const auto error = testsupport::mountFullTmpfs(dir.path(), 64 * 1024, {{QStringLiteral("Mossbridge.conf"), oldBytes}}, 8192)) {
            return QJsonObject{{QStringLiteral("setup"), *error}};
        }
        QJsonObject result = addLargeEntry();
        result[QStringLiteral("oldKept")] = readAll(path) == oldBytes;
        result[QStringLiteral("entries")] = QJsonArray::fromStringList(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden));
        return result;
    });
    ASSERT_TRUE(report);
    ASSERT_FALSE(report->contains(QStringLiteral("setup"))) << report->value(QStringLiteral("setup")).toString().toStdString();
    EXPECT_EQ(testsupport::sortedStrings(report->value(QStringLiteral("errors"))),
        QStringList{QStringLiteral("[ERR] Could not save the setting \"MossbridgeExportHistory\": "
                                  "Could not write \"%1\": No space left on device")
                       .arg(path)});
    EXPECT_TRUE(report->value(QStringLiteral("oldKept")).toBool());
    EXPECT_EQ(testsupport::sortedStrings(report->value(QStringLiteral("entries"))),
        (QStringList{QStringLiteral("Mossbridge.conf"), QStringLiteral("filler")}));
}

} // namespace
