#include "DesktopEntryChecks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

namespace desktopentry {

namespace {

QStringList iconBaseFolders()
{
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty()) {
        home = QDir::homePath() + QStringLiteral("/.local/share");
    }
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty()) {
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    }
    QStringList folders {home + QStringLiteral("/icons")};
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        folders.append(dir + QStringLiteral("/icons"));
    }
    return folders;
}

QStringList hicolorDirectories(const QStringList& bases)
{
    for (const QString& base : bases) {
        QFile index(base + QStringLiteral("/hicolor/index.theme"));
        if (!index.open(QIODevice::ReadOnly | QIODevice::Text)) {
            continue;
        }
        const QString directories = value(QString::fromUtf8(index.readAll()), QStringLiteral("Directories"), QStringLiteral("Icon Theme"));
        return directories.split(QLatin1Char(','), Qt::SkipEmptyParts);
    }
    return {};
}

} // namespace

std::optional<QString> validationReport(const QString& path)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (tool.isEmpty()) {
        return std::nullopt;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(tool, {path});
    if (!process.waitForFinished(30000)) {
        return QStringLiteral("desktop-file-validate did not finish");
    }
    QString report = QString::fromUtf8(process.readAll()).trimmed();
    if (process.exitCode() != 0 && report.isEmpty()) {
        report = QStringLiteral("desktop-file-validate failed with status %1").arg(process.exitCode());
    }
    return report;
}

QString value(const QString& text, const QString& key, const QString& group)
{
    bool inGroup = false;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line.trimmed() == QLatin1Char('[') + group + QLatin1Char(']');
        } else if (inGroup && line.startsWith(key + QLatin1Char('='))) {
            return line.mid(key.size() + 1);
        }
    }
    return {};
}

QString resolveIcon(const QString& name)
{
    const QStringList bases = iconBaseFolders();
    const QStringList directories = hicolorDirectories(bases);
    for (const QString& base : bases) {
        for (const QString& directory : directories) {
            for (const char* extension : {".png", ".svg", ".xpm"}) {
                const QString candidate = base + QStringLiteral("/hicolor/") + directory + QLatin1Char('/') + name
                    + QString::fromLatin1(extension);
                if (QFileInfo(candidate).isFile()) {
                    return candidate;
                }
            }
        }
    }
    return {};
}

bool withDataDirs(const QStringList& folders, const std::function<void()>& body)
{
    QTemporaryDir system;
    const QString theme = system.filePath(QStringLiteral("icons/hicolor"));
    if (!system.isValid() || !QDir().mkpath(theme)
        || !QFile::copy(QStringLiteral("/usr/share/icons/hicolor/index.theme"), theme + QStringLiteral("/index.theme"))) {
        return false;
    }
    const bool wasSet = qEnvironmentVariableIsSet("XDG_DATA_DIRS");
    const QByteArray previous = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_DIRS", QStringList(folders + QStringList {system.path()}).join(QLatin1Char(':')).toUtf8());
    body();
    if (wasSet) {
        qputenv("XDG_DATA_DIRS", previous);
    } else {
        qunsetenv("XDG_DATA_DIRS");
    }
    return true;
}

} // namespace desktopentry
