#include "core/CheckedFileWriter.h"

#include "support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using testsupport::runInChild;

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writePlainly(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
}

QJsonValue messageOf(const std::optional<CheckedFileWriter::Failure>& failure)
{
    return failure ? QJsonValue(failure->message()) : QJsonValue();
}

QString expectedMessage(const QString& path, const char* reason)
{
    return QStringLiteral("Could not write \"%1\": %2").arg(path, QLatin1String(reason));
}

// Writes past the limit fail for real (EFBIG), the way a full disk makes them fail.
TEST(CheckedFileWriter, AFileIsReplacedOnlyWhenEveryByteIsWritten)
{
    const QByteArray old("old contents\n");
    struct Case {
        const char* name;
        bool existing;
        qint64 limit;
        qsizetype size;
        bool written;
    };
    const Case cases[] = {
        {"larger than the limit, over an old file", true, 8192, 10248, false},
        {"larger than the limit, where there was none", false, 8192, 10248, false},
        {"not a byte can be written", true, 0, 1, false},
        {"exactly the limit", true, 8192, 8192, true},
        {"empty", true, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("settings.conf"));
        if (c.existing) {
            writePlainly(target, old);
            ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
        }
        const QStringList before = entries(dir.path());
        const QByteArray bytes(c.size, 'n');

        const auto report = runInChild([&] {
            testsupport::limitFileSize(c.limit);
            return QJsonObject{{QStringLiteral("failure"), messageOf(CheckedFileWriter::writeAtomically(target, bytes))}};
        });
        ASSERT_TRUE(report);

        if (c.written) {
            EXPECT_TRUE(report->value(QStringLiteral("failure")).isNull());
            EXPECT_EQ(contents(target), bytes);
            struct stat info {};
            ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, 0640u); // the replaced file's permissions
        } else {
            EXPECT_EQ(report->value(QStringLiteral("failure")).toString(), expectedMessage(target, "File too large"));
            EXPECT_EQ(contents(target), c.existing ? old : QByteArray("<missing>"));
        }
        // No temporary file is left behind either way.
        EXPECT_EQ(entries(dir.path()), c.written ? QStringList{QStringLiteral("settings.conf")} : before);
    }
}

TEST(CheckedFileWriter, ALinkKeepsPointingAtTheReplacedFileAndLongNamesFit)
{
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.conf"));
    const QString link = dir.filePath(QStringLiteral("link.conf"));
    writePlainly(real, "old");
    ASSERT_TRUE(QFile::link(real, link));
    EXPECT_FALSE(CheckedFileWriter::writeAtomically(link, "new"));
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(contents(real), QByteArray("new"));

    // The temporary name must stay within the 255-byte limit too.
    const QString longName = dir.filePath(QString(85, QChar(0x00e9)) + QString(85, QLatin1Char('x'))); // 255 bytes
    EXPECT_FALSE(CheckedFileWriter::writeAtomically(longName, "note"));
    EXPECT_EQ(contents(longName), QByteArray("note"));
    EXPECT_EQ(entries(dir.path()).size(), 3);
}

TEST(CheckedFileWriter, ABatchRemovesWhatItCouldNotWriteAndPutsItsLastFileInPlaceAfterTheSync)
{
    QTemporaryDir dir;
    writePlainly(dir.filePath(QStringLiteral("kept.png")), "old");
    const QByteArray small(22, 's');
    const QByteArray note(100, 'n');

    const auto report = runInChild([&] {
        testsupport::limitFileSize(8192);
        CheckedFileWriter batch(dir.path());
        QJsonObject result{
            {QStringLiteral("small"), messageOf(batch.writeNew(dir.filePath(QStringLiteral("a.txt")), small))},
            {QStringLiteral("large"),
                messageOf(batch.writeNew(dir.filePath(QStringLiteral("diagram.png")), QByteArray(10248, 'l')))},
            {QStringLiteral("existing"), messageOf(batch.writeNew(dir.filePath(QStringLiteral("kept.png")), "new"))},
            {QStringLiteral("largeLast"),
                messageOf(batch.writeLast(dir.filePath(QStringLiteral("large.md")), QByteArray(10248, 'l')))},
            {QStringLiteral("last"), messageOf(batch.writeLast(dir.filePath(QStringLiteral("note.md")), note))},
        };
        result[QStringLiteral("lastBeforeFinish")] = QFileInfo::exists(dir.filePath(QStringLiteral("note.md")));
        result[QStringLiteral("finish")] = messageOf(batch.finish());
        return result;
    });
    ASSERT_TRUE(report);
    EXPECT_TRUE(report->value(QStringLiteral("small")).isNull());
    EXPECT_EQ(report->value(QStringLiteral("large")).toString(),
        expectedMessage(dir.filePath(QStringLiteral("diagram.png")), "File too large"));
    EXPECT_EQ(report->value(QStringLiteral("existing")).toString(),
        expectedMessage(dir.filePath(QStringLiteral("kept.png")), "File exists"));
    EXPECT_EQ(report->value(QStringLiteral("largeLast")).toString(),
        expectedMessage(dir.filePath(QStringLiteral("large.md")), "File too large"));
    EXPECT_TRUE(report->value(QStringLiteral("last")).isNull());
    EXPECT_FALSE(report->value(QStringLiteral("lastBeforeFinish")).toBool());
    EXPECT_TRUE(report->value(QStringLiteral("finish")).isNull());
    EXPECT_EQ(entries(dir.path()), (QStringList{QStringLiteral("a.txt"), QStringLiteral("kept.png"), QStringLiteral("note.md")}));
    EXPECT_EQ(contents(dir.filePath(QStringLiteral("a.txt"))), small);
    EXPECT_EQ(contents(dir.filePath(QStringLiteral("kept.png"))), QByteArray("old"));
    EXPECT_EQ(contents(dir.filePath(QStringLiteral("note.md"))), note);

    // A batch given up before finish() takes its last file with it.
    {
        CheckedFileWriter abandoned(dir.path());
        EXPECT_FALSE(abandoned.writeLast(dir.filePath(QStringLiteral("later.md")), note));
    }
    EXPECT_EQ(entries(dir.path()).size(), 3);

    const QString gone = dir.filePath(QStringLiteral("gone"));
    CheckedFileWriter nowhere(gone);
    const auto failure = nowhere.finish();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->message(), expectedMessage(gone, "No such file or directory"));
}

// Large enough that its data is written back on another thread while the batch goes on.
TEST(CheckedFileWriter, ALargeBatchIsCompleteWhenFinished)
{
    QTemporaryDir dir;
    CheckedFileWriter batch(dir.path());
    for (int i = 0; i < 12; ++i) {
        ASSERT_FALSE(batch.writeNew(dir.filePath(QStringLiteral("%1.bin").arg(i)), QByteArray(1024 * 1024, char('a' + i))));
    }
    ASSERT_FALSE(batch.writeLast(dir.filePath(QStringLiteral("note.md")), "note"));
    EXPECT_FALSE(batch.finish());
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(contents(dir.filePath(QStringLiteral("%1.bin").arg(i))), QByteArray(1024 * 1024, char('a' + i)));
    }
    EXPECT_EQ(contents(dir.filePath(QStringLiteral("note.md"))), QByteArray("note"));
    EXPECT_EQ(entries(dir.path()).size(), 13);
}

// The case the writer exists for: a disk that runs out of space part-way through a file.
TEST(CheckedFileWriter, OnAFullDiskNothingCutIsLeftAndTheOldFileStays)
{
    if (!testsupport::canMountTmpfs()) {
        GTEST_SKIP() << "mounting a tmpfs needs root";
    }
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("settings.conf"));
    const QByteArray old(4096, 'o');
    const auto report = runInChild([&] {
        if (const auto error = testsupport::mountFullTmpfs(dir.path(), 64 * 1024, {{QStringLiteral("settings.conf"), old}}, 8192)) {
            return QJsonObject{{QStringLiteral("setup"), *error}};
        }
        QJsonObject result{{QStringLiteral("replace"), messageOf(CheckedFileWriter::writeAtomically(target, QByteArray(9216, 'n')))}};
        CheckedFileWriter batch(dir.path());
        result[QStringLiteral("large")] = messageOf(batch.writeNew(dir.filePath(QStringLiteral("diagram.png")), QByteArray(10248, 'l')));
        result[QStringLiteral("small")] = messageOf(batch.writeNew(dir.filePath(QStringLiteral("a.txt")), QByteArray(22, 's')));
        result[QStringLiteral("sync")] = messageOf(batch.finish());
        // The disk as the child sees it: the tmpfs is gone with the child.
        result[QStringLiteral("entries")] = QJsonArray::fromStringList(entries(dir.path()));
        result[QStringLiteral("oldKept")] = contents(target) == old;
        result[QStringLiteral("smallSize")] = QFileInfo(dir.filePath(QStringLiteral("a.txt"))).size();
        return result;
    });
    ASSERT_TRUE(report);
    ASSERT_FALSE(report->contains(QStringLiteral("setup"))) << report->value(QStringLiteral("setup")).toString().toStdString();
    EXPECT_EQ(report->value(QStringLiteral("replace")).toString(), expectedMessage(target, "No space left on device"));
    EXPECT_EQ(report->value(QStringLiteral("large")).toString(),
        expectedMessage(dir.filePath(QStringLiteral("diagram.png")), "No space left on device"));
    EXPECT_TRUE(report->value(QStringLiteral("small")).isNull());
    EXPECT_TRUE(report->value(QStringLiteral("sync")).isNull());
    EXPECT_TRUE(report->value(QStringLiteral("oldKept")).toBool());
    EXPECT_EQ(report->value(QStringLiteral("smallSize")).toInt(), 22);
    EXPECT_EQ(testsupport::sortedStrings(report->value(QStringLiteral("entries"))),
        (QStringList{QStringLiteral("a.txt"), QStringLiteral("filler"), QStringLiteral("settings.conf")}));
}

} // namespace
