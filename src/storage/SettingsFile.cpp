#include "storage/SettingsFile.h"

#include "core/CheckedFileWriter.h"
#include "storage/IniText.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSettings>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>

namespace {

// Keeps other processes of this program from writing the file while one reads it again and
// writes it (QSettings used a lock file for that, which cannot be made on a full disk). A lock
// on the folder needs no new file; where the folder cannot be locked, writing goes on without.
class FolderLock {
public:
    explicit FolderLock(const QString& folder)
        : fd_(::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_EX);
        }
    }
    ~FolderLock()
    {
        if (fd_ >= 0) {
            ::close(fd_); // releases the lock
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int fd_;
};

QMap<QString, QVariant> readValues(const QString& path)
{
    QMap<QString, QVariant> values;
    // What QSettings could not parse is left out, as it always was.
    const QSettings settings(path, QSettings::IniFormat);
    for (const QString& key : settings.allKeys()) {
        values.insert(key, settings.value(key));
    }
    return values;
}

} // namespace

bool SettingsFile::Version::operator==(const Version& other) const
{
    return exists == other.exists && device == other.device && inode == other.inode && size == other.size
        && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec
        && changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

SettingsFile& SettingsFile::at(const QString& filePath)
{
    static std::mutex registryMutex;
    // Never destroyed: stores may still be used while the program's statics go away.
    static auto* registry = new QHash<QString, std::shared_ptr<SettingsFile>>();
    const QString path = QFileInfo(filePath).absoluteFilePath();
    std::lock_guard lock(registryMutex);
    std::shared_ptr<SettingsFile>& file = (*registry)[path];
    if (!file) {
        file.reset(new SettingsFile(path));
    }
    return *file;
}

SettingsFile::SettingsFile(const QString& path)
    : path_(path)
{
}

SettingsFile::Version SettingsFile::versionOnDisk(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return {};
    }
    return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

void SettingsFile::refresh()
{
    const Version onDisk = versionOnDisk(path_);
    if (loaded_ && onDisk == version_) {
        return;
    }
    values_ = readValues(path_);
    for (auto it = unsaved_.cbegin(); it != unsaved_.cend(); ++it) {
        if (it.value()) {
            values_.insert(it.key(), *it.value());
        } else {
            values_.remove(it.key());
        }
    }
    version_ = onDisk;
    loaded_ = true;
}

std::optional<QVariant> SettingsFile::value(const QString& key)
{
    std::lock_guard lock(mutex_);
    refresh();
    const auto it = values_.constFind(key);
    if (it == values_.cend()) {
        return std::nullopt;
    }
    return it.value();
}

std::optional<QString> SettingsFile::setValue(const QString& key, const QVariant& value)
{
    return change(key, value);
}

std::optional<QString> SettingsFile::remove(const QString& key)
{
    return change(key, std::nullopt);
}

std::optional<QString> SettingsFile::change(const QString& key, const std::optional<QVariant>& value)
{
    std::lock_guard lock(mutex_);
    const QString folder = QFileInfo(path_).absolutePath();
    const bool folderExists = QDir().mkpath(folder);
    std::optional<FolderLock> folderLock;
    if (folderExists) {
        folderLock.emplace(folder);
    }
    refresh();
    if (!value && !values_.contains(key) && unsaved_.isEmpty()) {
        return std::nullopt; // nothing to remove and nothing left to write
    }
    unsaved_.insert(key, value);
    if (value) {
        values_.insert(key, *value);
    } else {
        values_.remove(key);
    }
    if (!folderExists) {
        return QStringLiteral("Could not create the folder \"%1\"").arg(folder);
    }
    return save();
}

std::optional<QString> SettingsFile::save()
{
    if (const auto failure = CheckedFileWriter::writeAtomically(path_, IniText::fromValues(values_))) {
        return failure->message();
    }
    unsaved_.clear();
    version_ = versionOnDisk(path_);
    return std::nullopt;
}
