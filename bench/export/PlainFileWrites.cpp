#include "PlainFileWrites.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    const bool complete = ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
    return ::close(fd) == 0 && complete;
}

} // namespace

bool writePlainly(const QString& folder, const QByteArray& noteBytes, const QMap<QString, QByteArray>& assets,
    bool sync)
{
    const QString assetsFolder = folder + QStringLiteral("/assets");
    if (::mkdir(QFile::encodeName(folder).constData(), 0777) != 0
        || ::mkdir(QFile::encodeName(assetsFolder).constData(), 0777) != 0) {
        return false;
    }
    for (auto it = assets.cbegin(); it != assets.cend(); ++it) {
        if (!writeFile(assetsFolder + QLatin1Char('/') + it.key(), it.value())) {
            return false;
        }
    }
    if (!writeFile(folder + QStringLiteral("/Bench.md"), noteBytes)) {
        return false;
    }
    if (!sync) {
        return true;
    }
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::syncfs(fd) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return synced;
}
