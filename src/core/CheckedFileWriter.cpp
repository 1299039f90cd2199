#include "core/CheckedFileWriter.h"

#include "core/BackgroundSync.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

// The system's description of an error, in English whatever the locale, so that the text in a
// reply or the log reads the same for everyone.
QString reasonFor(int error)
{
    const char* text = ::strerrordesc_np(error);
    return text != nullptr ? QString::fromLatin1(text) : QStringLiteral("error %1").arg(error);
}

CheckedFileWriter::Failure failure(const QString& path, int error)
{
    return {path, reasonFor(error)};
}

// Writes all of `bytes`; a short count is retried, so the call that cannot go on reports why.
// Returns 0 or the error.
int writeAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (written == 0) {
            return EIO;
        }
        data += written;
        left -= written;
    }
    return 0;
}

// Linux closes the descriptor even when close() is interrupted, and what it would report then
// is also reported by the sync that precedes or follows it.
int closeChecked(int fd)
{
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

// The file a write to `path` replaces: a link's target, so that replacing it keeps the link.
QString replacedFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isSymLink()) {
        return path;
    }
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.symLinkTarget() : canonical;
}

// A hidden name beside `target` that stays within the 255-byte name limit whatever the target's
// own length: "." + the name's first 200 bytes (whole characters) + "." + six random letters.
QByteArray temporaryName(const QByteArray& target)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = target.left(slash + 1);
    QByteArray name = target.mid(slash + 1);
    if (name.size() > 200) {
        qsizetype cut = 200;
        while (cut > 0 && (static_cast<unsigned char>(name.at(cut)) & 0xC0) == 0x80) {
            --cut; // not inside a UTF-8 sequence
        }
        name.truncate(cut);
    }
    QByteArray suffix(6, 'a');
    for (char& c : suffix) {
        c = static_cast<char>('a' + QRandomGenerator::global()->bounded(26));
    }
    return folder + '.' + name + '.' + suffix;
}

} // namespace

// A temporary file beside `target` holding all of `bytes`, with the permissions of the file it
// is to replace; synced when `sync`. On failure it is removed again and the error returned.
CheckedFileWriter::Temporary CheckedFileWriter::writeTemporary(const QByteArray& target, const QByteArray& bytes,
    bool sync)
{
    Temporary temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary.name = temporaryName(target);
        fd = ::open(temporary.name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            temporary.error = errno;
            return temporary;
        }
    }
    if (fd < 0) {
        temporary.error = EEXIST;
        return temporary;
    }
    struct stat existing {};
    if (::stat(target.constData(), &existing) == 0) {
        // Best effort: some file systems (FAT) refuse modes, and the content matters more.
        (void)::fchmod(fd, existing.st_mode & 07777);
    }
    int error = writeAll(fd, bytes);
    if (error == 0 && sync && ::fdatasync(fd) != 0) {
        error = errno;
    }
    const int closeError = closeChecked(fd);
    temporary.error = error != 0 ? error : closeError;
    if (temporary.error != 0) {
        ::unlink(temporary.name.constData());
    }
    return temporary;
}

QString CheckedFileWriter::Failure::message() const
{
    return QStringLiteral("Could not write \"%1\": %2").arg(path, reason);
}

std::optional<CheckedFileWriter::Failure> CheckedFileWriter::writeAtomically(const QString& path,
    const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(replacedFile(path));
    const Temporary temporary = writeTemporary(target, bytes, true);
    int error = temporary.error;
    if (error == 0 && ::rename(temporary.name.constData(), target.constData()) != 0) {
        error = errno;
        ::unlink(temporary.name.constData());
    }
    return error == 0 ? std::nullopt : std::optional(failure(path, error));
}

CheckedFileWriter::CheckedFileWriter(const QString& folder)
    : folder_(folder)
{
    // Opened before the first write: a sync through it reports write-back failures that
    // happened on this file system from here on.
    folderFd_ = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd_ < 0) {
        openError_ = errno;
    } else {
        backgroundSync_ = std::make_unique<BackgroundSync>(folderFd_);
    }
}

CheckedFileWriter::~CheckedFileWriter()
{
    backgroundSync_.reset(); // before the descriptor it syncs through is closed
    // Files staged by writeLast() that finish() did not put in place.
    for (const Staged& staged : std::as_const(staged_)) {
        ::unlink(staged.temporary.constData());
    }
    if (folderFd_ >= 0) {
        ::close(folderFd_);
    }
}

std::optional<CheckedFileWriter::Failure> CheckedFileWriter::writeNew(const QString& path, const QByteArray& bytes)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) {
        return failure(path, errno);
    }
    int error = writeAll(fd, bytes);
    const int closeError = closeChecked(fd);
    if (error == 0) {
        error = closeError;
    }
    if (error != 0) {
        ::unlink(name.constData());
        return failure(path, error);
    }
    if (backgroundSync_) {
        backgroundSync_->wrote(bytes.size());
    }
    return std::nullopt;
}

std::optional<CheckedFileWriter::Failure> CheckedFileWriter::writeLast(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(replacedFile(path));
    const Temporary temporary = writeTemporary(target, bytes, false);
    if (temporary.error != 0) {
        return failure(path, temporary.error);
    }
    staged_.append({temporary.name, target, path});
    if (backgroundSync_) {
        backgroundSync_->wrote(bytes.size());
    }
    return std::nullopt;
}

std::optional<CheckedFileWriter::Failure> CheckedFileWriter::finish()
{
    if (folderFd_ < 0) {
        return failure(folder_, openError_);
    }
    // One write-back and journal commit for the whole file system instead of one per file
    // (what the background syncs wrote back already is not written again).
    if (const int error = backgroundSync_->stop()) {
        return failure(folder_, error);
    }
    if (::syncfs(folderFd_) != 0) {
        return failure(folder_, errno);
    }
    while (!staged_.isEmpty()) {
        const Staged staged = staged_.takeFirst();
        if (::rename(staged.temporary.constData(), staged.target.constData()) != 0) {
            const int error = errno;
            ::unlink(staged.temporary.constData());
            return failure(staged.path, error);
        }
    }
    return std::nullopt;
}
