#include "storage/VaultManager.h"

#include "storage/ConfigManager.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// The bookmark: where the folder was and which folder it was, so a replaced folder is told
// apart and a renamed one can be found again. Device and inode alone are not enough: a file
// system hands a freed inode to the next folder made, so the inode's generation and the
// folder's birth time are kept too where the file system reports them.
struct Identity {
    quint64 device = 0;
    quint64 inode = 0;
    std::optional<quint64> generation;
    std::optional<qint64> birthNs;
};

struct Bookmark {
    QString path;
    Identity identity;
};

// How many directory entries the search for a moved vault looks at, at most.
constexpr int kMaxSearchEntries = 4096;

void printLine(const QString& line)
{
    const QByteArray bytes = (QStringLiteral("[VaultManager] ") + line + QLatin1Char('\n')).toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Identities are stored as JSON integers; values above the signed range (some file systems
// use the top bits of the inode) keep their bit pattern in a negative number.
QJsonValue encodeId(quint64 value)
{
    return QJsonValue(static_cast<qint64>(value));
}

std::optional<quint64> decodeId(const QJsonValue& value)
{
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::floor(number) != number) {
        return std::nullopt;
    }
    return static_cast<quint64>(value.toInteger());
}

QByteArray encodeBookmark(const Bookmark& bookmark)
{
    QJsonObject object;
    object.insert(QStringLiteral("path"), bookmark.path);
    object.insert(QStringLiteral("device"), encodeId(bookmark.identity.device));
    object.insert(QStringLiteral("inode"), encodeId(bookmark.identity.inode));
    if (bookmark.identity.generation) {
        object.insert(QStringLiteral("generation"), encodeId(*bookmark.identity.generation));
    }
    if (bookmark.identity.birthNs) {
        object.insert(QStringLiteral("birthTime"), QJsonValue(*bookmark.identity.birthNs));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

std::optional<Bookmark> decodeBookmark(const QByteArray& data)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue path = object.value(QStringLiteral("path"));
    const auto device = decodeId(object.value(QStringLiteral("device")));
    const auto inode = decodeId(object.value(QStringLiteral("inode")));
    if (!path.isString() || path.toString().isEmpty() || !device || !inode) {
        return std::nullopt;
    }
    Bookmark bookmark{path.toString(), Identity{*device, *inode, std::nullopt, std::nullopt}};
    // The extra identity keys are optional; a malformed one is ignored like an absent one.
    bookmark.identity.generation = decodeId(object.value(QStringLiteral("generation")));
    if (const auto birth = decodeId(object.value(QStringLiteral("birthTime")))) {
        bookmark.identity.birthNs = static_cast<qint64>(*birth);
    }
    return bookmark;
}

// The recorded path is followed like it was when recorded (the user may have chosen a link to
// the vault); the search for a moved folder never follows links.
enum class Links { follow, noFollow };

// The identity of the directory at `path`; nothing when there is none.
std::optional<Identity> directoryIdentity(const QString& path, Links links)
{
    const QByteArray name = QFile::encodeName(path);
    const int noFollow = links == Links::noFollow ? AT_SYMLINK_NOFOLLOW : 0;
    struct statx info{};
    if (::statx(AT_FDCWD, name.constData(), noFollow, STATX_TYPE | STATX_INO | STATX_BTIME, &info) != 0
        || !S_ISDIR(info.stx_mode)) {
        return std::nullopt;
    }
    Identity identity;
    identity.device = static_cast<quint64>(makedev(info.stx_dev_major, info.stx_dev_minor));
    identity.inode = info.stx_ino;
    if (info.stx_mask & STATX_BTIME) {
        identity.birthNs = static_cast<qint64>(info.stx_btime.tv_sec) * 1000000000LL + info.stx_btime.tv_nsec;
    }
    const int fd = ::open(name.constData(),
        O_RDONLY | O_DIRECTORY | O_CLOEXEC | (links == Links::noFollow ? O_NOFOLLOW : 0));
    if (fd >= 0) {
        int generation = 0;
        if (::ioctl(fd, FS_IOC_GETVERSION, &generation) == 0) {
            identity.generation = static_cast<quint32>(generation);
        }
        ::close(fd);
    }
    return identity;
}

bool sameIdentity(const Identity& now, const Identity& recorded)
{
    if (now.device != recorded.device || now.inode != recorded.inode) {
        return false;
    }
    if (now.generation && recorded.generation && *now.generation != *recorded.generation) {
        return false;
    }
    if (now.birthNs && recorded.birthNs && *now.birthNs != *recorded.birthNs) {
        return false;
    }
    return true;
}

// Looks for the bookmarked folder in its old parent and in that parent's subfolders.
std::optional<QString> searchMoved(const Bookmark& bookmark)
{
    const QString parent = QFileInfo(bookmark.path).path();
    const auto filters = QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks;
    int budget = kMaxSearchEntries;

    const QStringList children = QDir(parent).entryList(filters, QDir::Name);
    QStringList level;
    for (const QString& name : children) {
        if (budget-- <= 0) {
            return std::nullopt;
        }
        const QString candidate = parent + QLatin1Char('/') + name;
        const auto identity = directoryIdentity(candidate, Links::noFollow);
        if (identity && sameIdentity(*identity, bookmark.identity)) {
            return candidate;
        }
        level.append(candidate);
    }
    for (const QString& folder : level) {
        for (const QString& name : QDir(folder).entryList(filters, QDir::Name)) {
            if (budget-- <= 0) {
                return std::nullopt;
            }
            const QString candidate = folder + QLatin1Char('/') + name;
            const auto identity = directoryIdentity(candidate, Links::noFollow);
            if (identity && sameIdentity(*identity, bookmark.identity)) {
                return candidate;
            }
        }
    }
    return std::nullopt;
}

} // namespace

VaultManager::VaultManager()
    : config_(ConfigManager::shared())
{
}

VaultManager::VaultManager(ConfigManager& config)
    : config_(config)
{
}

std::optional<QString> VaultManager::getVaultURL() const
{
    const auto data = config_.preferences().vaultBookmark;
    if (!data) {
        return std::nullopt;
    }
    const auto bookmark = decodeBookmark(*data);
    if (!bookmark) {
        printLine(QStringLiteral("Failed to resolve vault bookmark: the bookmark data is not valid"));
        return std::nullopt;
    }
    if (const auto identity = directoryIdentity(bookmark->path, Links::follow)) {
        if (!sameIdentity(*identity, bookmark->identity)) {
            printLine(QStringLiteral("Bookmark is stale"));
        }
        return bookmark->path;
    }
    if (const auto moved = searchMoved(*bookmark)) {
        return moved;
    }
    printLine(QStringLiteral("Failed to resolve vault bookmark: the folder \"") + bookmark->path
        + QStringLiteral("\" no longer exists and was not found near its old place"));
    return std::nullopt;
}

void VaultManager::setVaultURL(const QString& folderPath)
{
    const QString path = QDir::cleanPath(QFileInfo(folderPath).absoluteFilePath());
    struct stat info{};
    if (folderPath.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0) {
        const int error = folderPath.isEmpty() ? ENOENT : errno;
        printLine(QStringLiteral("Failed to create bookmark for vault: ") + errnoText(error));
        return;
    }
    const auto identity = directoryIdentity(path, Links::follow);
    if (!S_ISDIR(info.st_mode) || !identity) {
        printLine(QStringLiteral("Failed to create bookmark for vault: ") + errnoText(ENOTDIR));
        return;
    }
    UserPreferences preferences = config_.preferences();
    preferences.vaultBookmark = encodeBookmark(Bookmark{path, *identity});
    config_.save(preferences);
    printLine(QStringLiteral("Saved bookmark for: ") + path);
}
