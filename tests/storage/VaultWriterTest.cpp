#include "storage/ConfigManager.h"
#include "storage/UserDefaults.h"
#include "storage/VaultManager.h"
#include "storage/VaultWriter.h"

#include "StorageTestSupport.h"
#include "support/ChildProcess.h"
#include "support/StdoutCapture.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using Kind = VaultWriter::WriteError::Kind;
using storagetest::filesUnder;
using storagetest::readAll;
using testsupport::StdoutCapture;
using testsupport::runInChild;

// Every file below `root` with its size ("Chat/assets/a.png 22"), sorted.
QStringList sizesUnder(const QString& root)
{
    QStringList result;
    for (const QString& entry : filesUnder(root)) {
        result.append(entry.endsWith(QLatin1Char('/'))
                ? entry
                : entry + QLatin1Char(' ') + QString::number(QFileInfo(root + QLatin1Char('/') + entry).size()));
    }
    return result;
}

// A vault "My Vault" inside a scratch folder; "outside" is a sibling the writer must never touch.
class VaultWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(vault));
        ASSERT_TRUE(QDir().mkpath(outside));
        StdoutCapture quiet;
        VaultManager(config).setVaultURL(vault);
    }

    void setDestination(std::optional<QString> folder)
    {
        UserPreferences preferences = config.preferences();
        preferences.destinationFolder = std::move(folder);
        config.save(preferences);
    }

    ExportResult write(const QString& markdown, const QString& filename,
        const QMap<QString, QByteArray>& assets = {})
    {
        return VaultWriter(config).write(markdown, filename, assets);
    }

    // Runs a write that must fail and returns its kind; what() must say something.
    Kind failingWrite(const QString& filename, const QMap<QString, QByteArray>& assets = {})
    {
        try {
            write(QStringLiteral("# note"), filename, assets);
        } catch (const VaultWriter::WriteError& error) {
            EXPECT_STRNE(error.what(), "");
            return error.kind();
        }
        ADD_FAILURE() << "the write succeeded";
        return Kind::fileWriteFailed;
    }

    // In a child: the write's report, its error's text or where the note went.
    QJsonObject reportWrite(const QString& markdown, const QMap<QString, QByteArray>& assets)
    {
        try {
            return {{QStringLiteral("relativePath"), write(markdown, QStringLiteral("Chat.md"), assets).relativePath}};
        } catch (const std::exception& error) {
            return {{QStringLiteral("error"), QString::fromUtf8(error.what())}};
        }
    }

    QTemporaryDir root;
    QString vault = root.path() + QStringLiteral("/My Vault");
    QString outside = root.path() + QStringLiteral("/outside");
    UserDefaults defaults{root.path() + QStringLiteral("/store.conf")};
    ConfigManager config{defaults};
};

TEST_F(VaultWriterTest, RepeatedNotesGetNumberedNamesAndNothingIsOverwritten)
{
    struct Case {
        QString filename;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("Chat.md"),
            {QStringLiteral("Chat.md"), QStringLiteral("Chat 2.md"), QStringLiteral("Chat 3.md")}},
        {QStringLiteral("v1.2 notes.md"), {QStringLiteral("v1.2 notes.md"), QStringLiteral("v1.2 notes 2.md")}},
        {QStringLiteral("Plain"), {QStringLiteral("Plain"), QStringLiteral("Plain 2")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.filename.toStdString());
        for (int i = 0; i < c.expected.size(); ++i) {
            const QString body = QStringLiteral("body %1 of %2").arg(i).arg(c.filename);
            const ExportResult result = write(body, c.filename);
            EXPECT_EQ(result.vaultName, QStringLiteral("My Vault"));
            EXPECT_EQ(result.relativePath, QStringLiteral("Mossbridge Inbox/") + c.expected[i]);
            EXPECT_EQ(result.absolutePath, vault + QLatin1Char('/') + result.relativePath);
        }
        for (int i = 0; i < c.expected.size(); ++i) {
            EXPECT_EQ(readAll(vault + QStringLiteral("/Mossbridge Inbox/") + c.expected[i]),
                QStringLiteral("body %1 of %2").arg(i).arg(c.filename).toUtf8());
        }
    }
}

TEST_F(VaultWriterTest, NotesWithAssetsGetTheirOwnNumberedFolders)
{
    const QMap<QString, QByteArray> assets = {
        {QStringLiteral("image.png"), QByteArray("\x89PNG\0data", 9)},
        {QStringLiteral("report.pdf"), QByteArray("%PDF")},
    };
    const QString markdown = QStringLiteral("![](Chat_files/image.png) [r](Chat_files/report.pdf) Chat_files");

    const ExportResult first = write(markdown, QStringLiteral("Chat.md"), assets);
    const ExportResult second = write(markdown, QStringLiteral("Chat.md"), assets);

    EXPECT_EQ(first.relativePath, QStringLiteral("Mossbridge Inbox/Chat/Chat.md"));
    EXPECT_EQ(second.relativePath, QStringLiteral("Mossbridge Inbox/Chat 2/Chat 2.md"));
    EXPECT_EQ(second.absolutePath, vault + QStringLiteral("/Mossbridge Inbox/Chat 2/Chat 2.md"));
    EXPECT_EQ(filesUnder(vault + QStringLiteral("/Mossbridge Inbox")),
        (QStringList{QStringLiteral("Chat 2/"), QStringLiteral("Chat 2/Chat 2.md"), QStringLiteral("Chat 2/assets/"),
            QStringLiteral("Chat 2/assets/image.png"), QStringLiteral("Chat 2/assets/report.pdf"),
            QStringLiteral("Chat/"), QStringLiteral("Chat/Chat.md"), QStringLiteral("Chat/assets/"),
            QStringLiteral("Chat/assets/image.png"), QStringLiteral("Chat/assets/report.pdf")}));
    // Links use the given name's base, not the numbered folder's.
    EXPECT_EQ(readAll(second.absolutePath),
        QByteArray("![](assets/image.png) [r](assets/report.pdf) Chat_files"));
    EXPECT_EQ(readAll(vault + QStringLiteral("/Mossbridge Inbox/Chat 2/assets/image.png")), assets.value("image.png"));

    // A plain file in the way of the folder name is skipped as well.
    QFile blocker(vault + QStringLiteral("/Mossbridge Inbox/Log"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(write(QStringLiteral("x"), QStringLiteral("Log.md"), assets).relativePath,
        QStringLiteral("Mossbridge Inbox/Log 2/Log 2.md"));
}

// Names whose " n" would pass the file system's 255 bytes: the base gives way, whole
// characters at a time, and the names before stay as they were.
TEST_F(VaultWriterTest, NumberedNamesFitTheFileSystem)
{
    using testsupport::repeated;
    const QString cjk = QStringLiteral("\u6f22");   // three bytes in UTF-8
    // One letter with 125 combining marks: one user-perceived character of 251 bytes.
    const QString marked = QLatin1Char('a') + repeated(QStringLiteral("\u0301"), 125);
    const QMap<QString, QByteArray> assets = {{QStringLiteral("image.png"), QByteArray("PNG")}};
    struct Case {
        QString filename;
        bool withAssets;
        QStringList expected;   // relative to the destination, one per write
    };
    const std::vector<Case> cases = {
        {repeated(cjk, 84) + QStringLiteral(".md"), false,
            {repeated(cjk, 84) + QStringLiteral(".md"), repeated(cjk, 83) + QStringLiteral(" 2.md"),
                repeated(cjk, 83) + QStringLiteral(" 3.md")}},
        {repeated(cjk, 84) + QStringLiteral(".md"), true,
            {repeated(cjk, 84) + QLatin1Char('/') + repeated(cjk, 84) + QStringLiteral(".md"),
                repeated(cjk, 83) + QStringLiteral(" 2/") + repeated(cjk, 83) + QStringLiteral(" 2.md")}},
        {marked + QStringLiteral(".md"), false,
            {marked + QStringLiteral(".md"), marked.left(125) + QStringLiteral(" 2.md")}},
        {repeated(cjk, 90) + QStringLiteral(".md"), false,
            {repeated(cjk, 84) + QStringLiteral(".md"), repeated(cjk, 83) + QStringLiteral(" 2.md")}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.filename.toStdString());
        const QString destination = QStringLiteral("case %1").arg(i);
        setDestination(destination);
        for (const QString& expected : c.expected) {
            const ExportResult result = write(QStringLiteral("note"), c.filename, c.withAssets ? assets : QMap<QString, QByteArray>());
            EXPECT_EQ(result.relativePath, destination + QLatin1Char('/') + expected);
            EXPECT_EQ(readAll(result.absolutePath), QByteArray("note"));
        }
        for (const QString& path : filesUnder(vault)) {
            for (const QString& component : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
                EXPECT_LE(component.toUtf8().size(), 255) << component.toStdString();
            }
        }
    }
}

TEST_F(VaultWriterTest, DestinationFolderDecidesWhereTheNoteGoes)
{
    struct Case {
        std::optional<QString> destination;
        QString expectedNote;
        QString expectedWithAssets;
    };
    const std::vector<Case> cases = {
        {std::nullopt, QStringLiteral("Mossbridge Inbox/A.md"), QStringLiteral("Mossbridge Inbox/A/A.md")},
        {QString(), QStringLiteral("A.md"), QStringLiteral("A/A.md")},
        {QStringLiteral("Notes/Chats/2025"), QStringLiteral("Notes/Chats/2025/A.md"),
            QStringLiteral("Notes/Chats/2025/A/A.md")},
        {QStringLiteral("Inbox/"), QStringLiteral("Inbox/A.md"), QStringLiteral("Inbox/A/A.md")},
        {QStringLiteral("./x/../Sorted//"), QStringLiteral("Sorted/A.md"), QStringLiteral("Sorted/A/A.md")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.destination.value_or(QStringLiteral("<none>")).toStdString());
        ASSERT_TRUE(QDir(vault).removeRecursively() && QDir().mkpath(vault));
        setDestination(c.destination);
        const ExportResult plain = write(QStringLiteral("a"), QStringLiteral("A.md"));
        EXPECT_EQ(plain.relativePath, c.expectedNote);
        EXPECT_TRUE(QFileInfo(vault + QLatin1Char('/') + c.expectedNote).isFile());
        const ExportResult withAssets = write(QStringLiteral("a"), QStringLiteral("A.md"), {{"f.bin", "1"}});
        EXPECT_EQ(withAssets.relativePath, c.expectedWithAssets);
        EXPECT_EQ(withAssets.absolutePath, vault + QLatin1Char('/') + c.expectedWithAssets);
    }
}

TEST_F(VaultWriterTest, WithoutAVaultNothingIsWritten)
{
    config.save({std::nullopt, QStringLiteral("Mossbridge Inbox")});
    EXPECT_EQ(failingWrite(QStringLiteral("Chat.md")), Kind::noVaultSelected);
    EXPECT_TRUE(filesUnder(vault).isEmpty());
}

// The superuser passes access(2) on any folder; the writer also honours the owner's
// permission bits, so a read-only vault is refused for every user and this runs as root too.
TEST_F(VaultWriterTest, VaultWithoutWritePermissionIsDeniedAndNothingIsWritten)
{
    struct Restore {
        QString path;
        ~Restore() { ::chmod(QFile::encodeName(path).constData(), 0755); }
    } restore{vault};
    for (mode_t mode : {mode_t{0555}, mode_t{0333}, mode_t{0666}}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod(QFile::encodeName(vault).constData(), mode), 0);
        EXPECT_EQ(failingWrite(QStringLiteral("Chat.md")), Kind::vaultAccessDenied);
        EXPECT_EQ(failingWrite(QStringLiteral("Chat.md"), {{"a.png", "x"}}), Kind::vaultAccessDenied);
        ASSERT_EQ(::chmod(QFile::encodeName(vault).constData(), 0755), 0);
        EXPECT_TRUE(filesUnder(vault).isEmpty());
    }
}

TEST_F(VaultWriterTest, DestinationsLeavingTheVaultAreRefused)
{
    ASSERT_TRUE(QFile::link(outside, vault + QStringLiteral("/escape")));
    ASSERT_TRUE(QDir().mkpath(vault + QStringLiteral("/Real")));
    ASSERT_TRUE(QFile::link(vault + QStringLiteral("/Real"), vault + QStringLiteral("/Alias")));
    const QStringList refused = {
        outside,
        QStringLiteral("/"),
        QStringLiteral(".."),
        QStringLiteral("../outside"),
        QStringLiteral("Inbox/../../outside"),
        QStringLiteral("a/b/../../../outside/x"),
        QStringLiteral("escape"),
        QStringLiteral("escape/deeper"),
    };
    const QStringList before = filesUnder(vault);
    for (const QString& destination : refused) {
        SCOPED_TRACE(destination.toStdString());
        setDestination(destination);
        EXPECT_EQ(failingWrite(QStringLiteral("Chat.md")), Kind::folderCreationFailed);
        EXPECT_EQ(failingWrite(QStringLiteral("Chat.md"), {{"a.png", "x"}}), Kind::folderCreationFailed);
        EXPECT_TRUE(filesUnder(outside).isEmpty());
        EXPECT_EQ(QDir(root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
            (QStringList{QStringLiteral("My Vault"), QStringLiteral("outside"), QStringLiteral("store.conf")}));
        EXPECT_EQ(filesUnder(vault), before);
    }
    // A link that stays inside the vault is fine.
    setDestination(QStringLiteral("Alias"));
    EXPECT_EQ(write(QStringLiteral("a"), QStringLiteral("Chat.md")).relativePath, QStringLiteral("Alias/Chat.md"));
    EXPECT_TRUE(QFileInfo::exists(vault + QStringLiteral("/Real/Chat.md")));
}

TEST_F(VaultWriterTest, UnsafeNoteAndAssetNamesAreRefusedBeforeAnythingIsWritten)
{
    struct Case {
        QString note;
        QMap<QString, QByteArray> assets;
    };
    const std::vector<Case> cases = {
        {QString(), {}},
        {QStringLiteral("."), {}},
        {QStringLiteral(".."), {}},
        {QStringLiteral("../Chat.md"), {}},
        {QStringLiteral("sub/Chat.md"), {}},
        {QStringLiteral("/tmp/Chat.md"), {}},
        {QStringLiteral("Chat.md"), {{"../../evil.png", "x"}}},
        {QStringLiteral("Chat.md"), {{"ok.png", "x"}, {"sub/dir.png", "x"}}},
        {QStringLiteral("Chat.md"), {{"..", "x"}}},
        {QStringLiteral("Chat.md"), {{".", "x"}}},
        {QStringLiteral("Chat.md"), {{"", "x"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE((c.note + QStringLiteral(" / ") + c.assets.keys().join(',')).toStdString());
        EXPECT_EQ(failingWrite(c.note, c.assets), Kind::folderCreationFailed);
        EXPECT_TRUE(filesUnder(vault).isEmpty());
        EXPECT_TRUE(filesUnder(outside).isEmpty());
    }
}

// A write that fails part-way (a full disk) takes back what it made: no folder with some of the
// assets and no note is left for the vault's app to show. What was there before stays.
TEST_F(VaultWriterTest, FailedWriteRemovesWhatItMadeAndNothingElse)
{
    const QMap<QString, QByteArray> assets = {
        {QStringLiteral("a.png"), QByteArray("first")},
        {QStringLiteral("b.png"), QByteArray("second")},
        {QStringLiteral("diagram.png"), QByteArray("third")},
    };
    struct Case {
        const char* name;
        std::optional<QString> destination;
        QMap<QString, QByteArray> assets;
        int failingFile; // 1-based, in writing order (assets by name, then the note)
    };
    const std::vector<Case> cases = {
        {"third asset", std::nullopt, assets, 3},
        {"the note after its assets", std::nullopt, assets, 4},
        {"a note without assets", std::nullopt, {}, 1},
        {"a note without assets in new folders", QStringLiteral("Notes/Chats/2025"), {}, 1},
        {"assets in new folders", QStringLiteral("Notes/Chats/2025"), assets, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Emptied, not remade, so the vault keeps its identity.
        for (const QString& entry : QDir(vault).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
            ASSERT_TRUE(QDir(vault + QLatin1Char('/') + entry).removeRecursively());
        }
        setDestination(c.destination);
        // An earlier export of the same name and an unrelated note, both to be kept.
        const QString typed = c.destination.value_or(QStringLiteral("Mossbridge Inbox"));
        const QString earlier = typed.section(QLatin1Char('/'), 0, 0);
        ASSERT_TRUE(QDir().mkpath(vault + QLatin1Char('/') + earlier + QStringLiteral("/Chat/assets")));
        QFile kept(vault + QLatin1Char('/') + earlier + QStringLiteral("/Chat/Chat.md"));
        ASSERT_TRUE(kept.open(QIODevice::WriteOnly) && kept.write("earlier") == 7);
        kept.close();
        const QStringList before = filesUnder(vault);

        int calls = 0;
        QStringList written;
        VaultWriter writer(config);
        writer.setFileWriter([&](const QString& path, const QByteArray& bytes) -> std::optional<QString> {
            if (++calls == c.failingFile) {
                return QStringLiteral("No space left on device");
            }
            written.append(path);
            return VaultWriter::writeFileAtomically(path, bytes);
        });
        try {
            writer.write(QStringLiteral("# Chat"), QStringLiteral("Chat.md"), c.assets);
            ADD_FAILURE() << "the write succeeded";
        } catch (const VaultWriter::WriteError& error) {
            EXPECT_EQ(error.kind(), Kind::fileWriteFailed);
            EXPECT_TRUE(QString::fromStdString(error.what()).endsWith(QStringLiteral(": No space left on device")))
                << error.what();
        }
        EXPECT_EQ(calls, c.failingFile);
        EXPECT_EQ(written.size(), c.failingFile - 1);
        EXPECT_EQ(filesUnder(vault), before);
        EXPECT_EQ(readAll(kept.fileName()), QByteArray("earlier"));
    }
}

TEST_F(VaultWriterTest, RealWriteFailureIsUndoneToo)
{
    // Sorted by name: a.png is written, then the over-long name fails for real.
    const QMap<QString, QByteArray> assets = {
        {QStringLiteral("a.png"), QByteArray("first")},
        {QString(300, QLatin1Char('z')) + QStringLiteral(".png"), QByteArray("second")},
    };
    EXPECT_EQ(failingWrite(QStringLiteral("Chat.md"), assets), Kind::fileWriteFailed);
    // Even the destination folder the write made for itself is gone.
    EXPECT_TRUE(filesUnder(vault).isEmpty());
}

// Writes that fail for real part-way through a file: past a file-size limit (EFBIG) in a child.
TEST_F(VaultWriterTest, AFileThatCannotBeWrittenCompletelyFailsTheWholeNote)
{
    const QByteArray small(22, 's');
    const QByteArray medium(5012, 'p');
    const QByteArray large(10248, 'd');
    struct Case {
        const char* name;
        QMap<QString, QByteArray> assets;
        qsizetype noteSize;
        QString failing; // "file" or "note", and its path in the destination folder
        QString failingPath;
    };
    const std::vector<Case> cases = {
        {"the last attachment", {{"chart.csv", small}, {"photo.jpg", medium}, {"zdiagram.png", large}}, 100,
            QStringLiteral("file"), QStringLiteral("Chat/assets/zdiagram.png")},
        {"the note after its attachments", {{"chart.csv", small}, {"photo.jpg", medium}}, 10248,
            QStringLiteral("note"), QStringLiteral("Chat/Chat.md")},
        {"a note without attachments", {}, 10248, QStringLiteral("note"), QStringLiteral("Chat.md")},
        {"everything just fits", {{"chart.csv", small}, {"photo.jpg", medium}}, 8192, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(QDir(vault + QStringLiteral("/Mossbridge Inbox")).removeRecursively());
        const QString markdown(c.noteSize, QLatin1Char('m'));
        const auto report = runInChild([&] {
            testsupport::limitFileSize(8192);
            return reportWrite(markdown, c.assets);
        });
        ASSERT_TRUE(report);
        const QString inbox = vault + QStringLiteral("/Mossbridge Inbox");
        if (!c.failing.isEmpty()) {
            EXPECT_EQ(report->value(QStringLiteral("error")).toString(),
                QStringLiteral("Could not write the %1 \"%2/%3\": File too large").arg(c.failing, inbox, c.failingPath));
            // Not even the destination folder this write made is left.
            EXPECT_TRUE(filesUnder(vault).isEmpty()) << filesUnder(vault).join(' ').toStdString();
            continue;
        }
        EXPECT_EQ(report->value(QStringLiteral("relativePath")).toString(), QStringLiteral("Mossbridge Inbox/Chat/Chat.md"));
        EXPECT_EQ(readAll(inbox + QStringLiteral("/Chat/Chat.md")), markdown.toUtf8());
        EXPECT_EQ(readAll(inbox + QStringLiteral("/Chat/assets/chart.csv")), small);
        EXPECT_EQ(readAll(inbox + QStringLiteral("/Chat/assets/photo.jpg")), medium);
        EXPECT_EQ(filesUnder(inbox).size(), 5);
    }
}

// The full disk itself: a vault on a small tmpfs with 12 KB left.
TEST_F(VaultWriterTest, OnAFullDiskAnExportFailsWholeAndNothingCutStays)
{
    if (!testsupport::canMountTmpfs()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    const QMap<QString, QByteArray> assets = {
        {QStringLiteral("chart.csv"), QByteArray(22, 's')},
        {QStringLiteral("diagram.png"), QByteArray(10248, 'd')},
        {QStringLiteral("photo.jpg"), QByteArray(5012, 'p')},
    };
    const auto report = runInChild([&] {
        if (const auto error = testsupport::mountFullTmpfs(vault, 64 * 1024, {}, 12 * 1024)) {
            return QJsonObject{{QStringLiteral("setup"), *error}};
        }
        {
            StdoutCapture quiet;
            VaultManager(config).setVaultURL(vault); // the tmpfs is a folder of its own
        }
        QJsonObject result;
        result[QStringLiteral("withAssets")] = reportWrite(QStringLiteral("# Chat"), assets);
        result[QStringLiteral("afterAssets")] = QJsonArray::fromStringList(sizesUnder(vault));
        result[QStringLiteral("tooLarge")] = reportWrite(QString(16 * 1024, QLatin1Char('m')), {});
        result[QStringLiteral("afterTooLarge")] = QJsonArray::fromStringList(sizesUnder(vault));
        result[QStringLiteral("fits")] = reportWrite(QString(8 * 1024, QLatin1Char('m')), {});
        result[QStringLiteral("afterFits")] = QJsonArray::fromStringList(sizesUnder(vault));
        return result;
    });
    ASSERT_TRUE(report);
    ASSERT_FALSE(report->contains(QStringLiteral("setup"))) << report->value(QStringLiteral("setup")).toString().toStdString();
    const QString inbox = vault + QStringLiteral("/Mossbridge Inbox");
    EXPECT_EQ(report->value(QStringLiteral("withAssets")).toObject().value(QStringLiteral("error")).toString(),
        QStringLiteral("Could not write the file \"%1/Chat/assets/diagram.png\": No space left on device").arg(inbox));
    const QStringList onlyTheFiller{QStringLiteral("filler %1").arg(52 * 1024)};
    EXPECT_EQ(testsupport::sortedStrings(report->value(QStringLiteral("afterAssets"))), onlyTheFiller);
    EXPECT_EQ(report->value(QStringLiteral("tooLarge")).toObject().value(QStringLiteral("error")).toString(),
        QStringLiteral("Could not write the note \"%1/Chat.md\": No space left on device").arg(inbox));
    EXPECT_EQ(testsupport::sortedStrings(report->value(QStringLiteral("afterTooLarge"))), onlyTheFiller);
    EXPECT_EQ(report->value(QStringLiteral("fits")).toObject().value(QStringLiteral("relativePath")).toString(),
        QStringLiteral("Mossbridge Inbox/Chat.md"));
    EXPECT_EQ(testsupport::sortedStrings(report->value(QStringLiteral("afterFits"))),
        (QStringList{QStringLiteral("Mossbridge Inbox/"), QStringLiteral("Mossbridge Inbox/Chat.md 8192"),
            QStringLiteral("filler %1").arg(52 * 1024)}));
}

TEST_F(VaultWriterTest, FileInPlaceOfTheDestinationFolderIsAnError)
{
    QFile blocker(vault + QStringLiteral("/Mossbridge Inbox"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(failingWrite(QStringLiteral("Chat.md")), Kind::folderCreationFailed);
    EXPECT_EQ(filesUnder(vault), QStringList{QStringLiteral("Mossbridge Inbox")});
}

} // namespace
