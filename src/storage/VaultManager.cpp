#include "storage/VaultManager.h"

#include "storage/ConfigManager.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

// The bookmark: where the folder was and which folder it was (device and inode), so a
// replaced folder is told apart and a renamed one can be found again.
struct Bookmark {
    QString path;
    quint64 device = 0;
    quint64 inode = 0;
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
    object.insert(QStringLiteral("device"), encodeId(bookmark.device));
    object.insert(QStringLiteral("inode"), encodeId(bookmark.inode));
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
    return Bookmark{path.toString(), *device, *inode};
}

// The recorded path is followed like it was when recorded (the user may have chosen a link to
// the vault); the search for a moved folder never follows links.
enum class Links { follow, noFollow };

std::optional<struct stat> directoryStat(const QString& path, Links links)
{
    struct stat info{};
    const QByteArray name = QFile::encodeName(path);
    const int result = links == Links::follow ? ::stat(name.constData(), &info)
                                              : ::lstat(name.constData(), &info);
    if (result != 0 || !S_ISDIR(info.st_mode)) {
        return std::nullopt;
    }
    return info;
}

bool sameIdentity(const struct stat& info, const Bookmark& bookmark)
{
    return static_cast<quint64>(info.st_dev) == bookmark.device
        && static_cast<quint64>(info.st_ino) == bookmark.inode;
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
        const auto info = directoryStat(candidate, Links::noFollow);
        if (info && sameIdentity(*info, bookmark)) {
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
            const auto info = directoryStat(candidate, Links::noFollow);
            if (info && sameIdentity(*info, bookmark)) {
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
    if (const auto info = directoryStat(bookmark->path, Links::follow)) {
        if (!sameIdentity(*info, *bookmark)) {
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
    if (!S_ISDIR(info.st_mode)) {
        printLine(QStringLiteral("Failed to create bookmark for vault: ") + errnoText(ENOTDIR));
        return;
    }
    const Bookmark bookmark{path, static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino)};
    UserPreferences preferences = config_.preferences();
    preferences.vaultBookmark = encodeBookmark(bookmark);
    config_.save(preferences);
    printLine(QStringLiteral("Saved bookmark for: ") + path);
}
