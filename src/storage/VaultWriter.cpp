#include "storage/VaultWriter.h"

#include "core/CheckedFileWriter.h"
#include "core/DestinationFolder.h"
#include "core/FileNameLimit.h"
#include "storage/ConfigManager.h"
#include "storage/VaultManager.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

using Kind = VaultWriter::WriteError::Kind;

const QString kAssetsFolder = QStringLiteral("assets");

// Gives up on finding a free name after this many tries rather than looping for ever.
constexpr int kMaxNameAttempts = 100000;

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

// Something (a file, a folder, a link even if dangling) is at `path`.
bool somethingAt(const QString& path)
{
    struct stat info{};
    return ::lstat(nativePath(path).constData(), &info) == 0;
}

// A single path component: not empty, not "." or "..", no separator, no NUL.
bool isPlainName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

void requirePlainName(const QString& name, const QString& what)
{
    if (!isPlainName(name)) {
        throw VaultWriter::WriteError(Kind::folderCreationFailed,
            QStringLiteral("Refusing to write the %1 \"%2\": a file name must not be empty, "
                           "\".\" or \"..\", nor contain \"/\".")
                .arg(what, name));
    }
}

// The destination's components with "." and empty ones dropped and ".." applied; nothing when
// the folder is absolute or climbs out of the vault.
std::optional<QStringList> destinationComponents(const QString& destination)
{
    if (destination.startsWith(QLatin1Char('/')) || destination.contains(QChar(0))) {
        return std::nullopt;
    }
    QStringList components;
    for (const QString& part : destination.split(QLatin1Char('/'))) {
        if (part.isEmpty() || part == QLatin1String(".")) {
            continue;
        }
        if (part == QLatin1String("..")) {
            if (components.isEmpty()) {
                return std::nullopt;
            }
            components.removeLast();
            continue;
        }
        components.append(part);
    }
    return components;
}

bool isInside(const QString& canonicalPath, const QString& canonicalRoot)
{
    return canonicalPath == canonicalRoot
        || canonicalPath.startsWith(canonicalRoot.endsWith(QLatin1Char('/'))
                ? canonicalRoot
                : canonicalRoot + QLatin1Char('/'));
}

// Creates the destination one folder at a time. A component that already exists must be a
// folder that (after following any link) is still inside the vault, so a link planted in the
// vault cannot lead the write elsewhere. The folders it made are added to `created`.
QString makeDestination(const QString& vault, const QStringList& components, const QString& typed,
    QStringList& created)
{
    const QString canonicalVault = QFileInfo(vault).canonicalFilePath();
    if (canonicalVault.isEmpty()) {
        throw VaultWriter::WriteError(Kind::folderCreationFailed,
            QStringLiteral("The vault folder \"%1\" cannot be found.").arg(vault));
    }
    QString current = vault;
    for (const QString& component : components) {
        current += QLatin1Char('/') + component;
        if (::mkdir(nativePath(current).constData(), 0777) == 0) {
            created.append(current);
            continue;
        }
        const int error = errno;
        if (error != EEXIST) {
            throw VaultWriter::WriteError(Kind::folderCreationFailed,
                QStringLiteral("Could not create the folder \"%1\": %2").arg(current, errnoText(error)));
        }
        const QFileInfo existing(current);
        if (!existing.isDir()) {
            throw VaultWriter::WriteError(Kind::folderCreationFailed,
                QStringLiteral("Could not create the folder \"%1\": a file of that name exists.").arg(current));
        }
        if (!isInside(existing.canonicalFilePath(), canonicalVault)) {
            throw VaultWriter::WriteError(Kind::folderCreationFailed,
                QStringLiteral("The destination folder \"%1\" leads outside the vault.").arg(typed));
        }
    }
    return current;
}

struct SplitName {
    QString base;
    QString extension;  // without the dot; empty when the name has none
};

SplitName splitName(const QString& filename)
{
    const qsizetype dot = filename.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0) {
        return {filename, {}};
    }
    return {filename.left(dot), filename.mid(dot + 1)};
}

// Every name tried fits the file system: where base + " n" + extension would pass 255 bytes,
// the base is cut (at the end of a user-perceived character) to make room.
QString freeNoteName(const QString& folder, const QString& filename)
{
    const SplitName parts = splitName(filename);
    const QString extension = parts.extension.isEmpty() ? QString() : QLatin1Char('.') + parts.extension;
    const QString first = FileNameLimit::fit(parts.base, extension);
    if (!somethingAt(folder + QLatin1Char('/') + first)) {
        return first;
    }
    for (int n = 2; n < kMaxNameAttempts; ++n) {
        const QString candidate = FileNameLimit::fit(parts.base, QLatin1Char(' ') + QString::number(n) + extension);
        if (!somethingAt(folder + QLatin1Char('/') + candidate)) {
            return candidate;
        }
    }
    throw VaultWriter::WriteError(Kind::fileWriteFailed,
        QStringLiteral("No free name for \"%1\" in \"%2\".").arg(filename, folder));
}

// Creates the note's own folder under the first free name; mkdir fails on anything already
// there, so an existing folder is never reused. The note inside is named like the folder plus
// ".md", so the folder's name leaves room for that.
QString createNoteFolder(const QString& parent, const QString& base)
{
    const qsizetype limit = FileNameLimit::maxBytes - FileNameLimit::utf8Size(u".md");
    for (int n = 1; n < kMaxNameAttempts; ++n) {
        const QString name = FileNameLimit::fit(base, n == 1 ? QString() : QLatin1Char(' ') + QString::number(n), limit);
        const QString path = parent + QLatin1Char('/') + name;
        if (::mkdir(nativePath(path).constData(), 0777) == 0) {
            return name;
        }
        const int error = errno;
        if (error != EEXIST) {
            throw VaultWriter::WriteError(Kind::folderCreationFailed,
                QStringLiteral("Could not create the folder \"%1\": %2").arg(path, errnoText(error)));
        }
    }
    throw VaultWriter::WriteError(Kind::folderCreationFailed,
        QStringLiteral("No free folder name for \"%1\" in \"%2\".").arg(base, parent));
}

// Undoes a failed write: the folders it made (given outermost first) go, the newest first.
// The note's own folder goes with what is in it; a destination folder only while empty,
// since something else may have been put there meanwhile.
void removeCreated(const QString& noteFolder, const QStringList& destinationFolders)
{
    if (!noteFolder.isEmpty()) {
        QDir(noteFolder).removeRecursively();
    }
    for (auto it = destinationFolders.crbegin(); it != destinationFolders.crend(); ++it) {
        ::rmdir(nativePath(*it).constData());
    }
}

// The folder must be readable, writable and searchable by this process. The superuser passes
// access(2) whatever the mode says, so for it the owner's bits must grant all three as well:
// a vault its owner made read-only is not written into behind their back.
bool canUseVault(const QString& vault)
{
    const QByteArray path = nativePath(vault);
    if (::access(path.constData(), R_OK | W_OK | X_OK) != 0) {
        return false;
    }
    if (::geteuid() == 0) {
        struct stat info{};
        if (::stat(path.constData(), &info) != 0) {
            return false;
        }
        constexpr mode_t ownerAll = S_IRUSR | S_IWUSR | S_IXUSR;
        return (info.st_mode & ownerAll) == ownerAll;
    }
    return true;
}

} // namespace

std::optional<QString> VaultWriter::writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    if (const auto failure = CheckedFileWriter::writeAtomically(path, bytes)) {
        return failure->reason;
    }
    return std::nullopt;
}

void VaultWriter::setFileWriter(FileWriter writer)
{
    fileWriter_ = std::move(writer);
}

VaultWriter::WriteError::WriteError(Kind kind, const QString& text)
    : std::runtime_error(text.toStdString())
    , kind_(kind)
{
}

VaultWriter::VaultWriter()
    : config_(ConfigManager::shared())
{
}

VaultWriter::VaultWriter(ConfigManager& config)
    : config_(config)
{
}

ExportResult VaultWriter::write(const QString& markdown, const QString& filename,
    const QMap<QString, QByteArray>& assets) const
{
    const auto vaultPath = VaultManager(config_).getVaultURL();
    if (!vaultPath) {
        throw WriteError(Kind::noVaultSelected,
            QStringLiteral("No vault selected. Choose your vault in the settings."));
    }
    const QString vault = QDir::cleanPath(*vaultPath);
    if (!canUseVault(vault)) {
        throw WriteError(Kind::vaultAccessDenied,
            QStringLiteral("Access to the vault folder \"%1\" was denied.").arg(vault));
    }

    // Every name is checked before anything is created.
    requirePlainName(filename, QStringLiteral("note"));
    for (auto it = assets.cbegin(); it != assets.cend(); ++it) {
        requirePlainName(it.key(), QStringLiteral("asset"));
    }
    const QString typed = config_.preferences().destinationFolder.value_or(DestinationFolder::defaultName());
    const auto components = destinationComponents(typed);
    if (!components) {
        throw WriteError(Kind::folderCreationFailed,
            QStringLiteral("The destination folder \"%1\" is outside the vault; use a folder "
                           "path inside it.")
                .arg(typed));
    }
    const QString destination = components->join(QLatin1Char('/'));
    // A failed write leaves the vault as it found it: whatever it made is removed again, and
    // nothing that was there before is touched.
    QStringList createdFolders;
    QString noteFolder;
    try {
        const QString folder = makeDestination(vault, *components, typed, createdFolders);
        const QString prefix = destination.isEmpty() ? QString() : destination + QLatin1Char('/');

        ExportResult result;
        result.vaultName = QFileInfo(vault).fileName();

        if (assets.isEmpty()) {
            const QString name = freeNoteName(folder, filename);
            const QString notePath = folder + QLatin1Char('/') + name;
            writeFile(notePath, markdown.toUtf8(), QStringLiteral("note"));
            result.relativePath = prefix + name;
            result.absolutePath = notePath;
            return result;
        }

        const QString base = splitName(filename).base;
        const QString folderName = createNoteFolder(folder, base);
        noteFolder = folder + QLatin1Char('/') + folderName;
        const QString assetsFolder = noteFolder + QLatin1Char('/') + kAssetsFolder;
        if (::mkdir(nativePath(assetsFolder).constData(), 0777) != 0) {
            const int error = errno;
            throw WriteError(Kind::folderCreationFailed,
                QStringLiteral("Could not create the folder \"%1\": %2").arg(assetsFolder, errnoText(error)));
        }

        QString body = markdown;
        body.replace(base + QStringLiteral("_files/"), kAssetsFolder + QLatin1Char('/'));

        // The assets go in plainly: the folder is new and goes whole on failure, so a temporary
        // file and a sync per asset would buy nothing. The note is written last and renamed into
        // place after one sync for the lot, so a note in the vault always has all its assets.
        CheckedFileWriter batch(noteFolder);
        for (auto it = assets.cbegin(); it != assets.cend(); ++it) {
            writeFile(assetsFolder + QLatin1Char('/') + it.key(), it.value(), QStringLiteral("file"), &batch);
        }
        const QString noteName = folderName + QStringLiteral(".md");
        const QString notePath = noteFolder + QLatin1Char('/') + noteName;
        writeFile(notePath, body.toUtf8(), QStringLiteral("note"), &batch, true);
        if (const auto failure = batch.finish()) {
            throw WriteError(Kind::fileWriteFailed, failure->message());
        }

        result.relativePath = prefix + folderName + QLatin1Char('/') + noteName;
        result.absolutePath = notePath;
        return result;
    } catch (...) {
        removeCreated(noteFolder, createdFolders);
        throw;
    }
}

void VaultWriter::writeFile(const QString& path, const QByteArray& bytes, const QString& what,
    CheckedFileWriter* batch, bool last) const
{
    std::optional<QString> reason;
    if (fileWriter_) {
        reason = fileWriter_(path, bytes);
    } else if (batch == nullptr) {
        reason = writeFileAtomically(path, bytes);
    } else if (const auto failure = last ? batch->writeLast(path, bytes) : batch->writeNew(path, bytes)) {
        reason = failure->reason;
    }
    if (reason) {
        throw WriteError(Kind::fileWriteFailed,
            QStringLiteral("Could not write the %1 \"%2\": %3").arg(what, path, *reason));
    }
}
