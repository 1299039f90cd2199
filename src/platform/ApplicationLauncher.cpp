#include "platform/ApplicationLauncher.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QUrl>

namespace {

// The value of the [Desktop Entry] group's Exec key, with its string escapes undone.
QString execValue(const QString& entryPath)
{
    QFile file(entryPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return {};
    }
    QTextStream in(&file);
    bool inMainGroup = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QStringLiteral("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup || !line.startsWith(QStringLiteral("Exec"))) {
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0 || line.left(equals).trimmed() != QStringLiteral("Exec")) {
            continue;
        }
        const QString raw = line.mid(equals + 1).trimmed();
        QString value;
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] == QLatin1Char('\\') && i + 1 < raw.size()) {
                const QChar next = raw[++i];
                value += next == QLatin1Char('s') ? QChar(u' ')
                    : next == QLatin1Char('n')    ? QChar(u'\n')
                    : next == QLatin1Char('t')    ? QChar(u'\t')
                    : next == QLatin1Char('r')    ? QChar(u'\r')
                                                  : next;
            } else {
                value += raw[i];
            }
        }
        return value;
    }
    return {};
}

// Splits an Exec value into arguments by its quoting rules.
QStringList splitExec(const QString& exec)
{
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool hasArgument = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                current += exec[++i];
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            hasArgument = true;
        } else if (c.isSpace()) {
            if (hasArgument || !current.isEmpty()) {
                arguments.append(current);
            }
            current.clear();
            hasArgument = false;
        } else {
            current += c;
        }
    }
    if (hasArgument || !current.isEmpty()) {
        arguments.append(current);
    }
    return arguments;
}

} // namespace

std::optional<QString> ApplicationLauncher::findDesktopEntry(const QStringList& desktopFileNames)
{
    for (const QString& name : desktopFileNames) {
        const QString path = QStandardPaths::locate(QStandardPaths::GenericDataLocation, QStringLiteral("applications/") + name);
        if (!path.isEmpty()) {
            return path;
        }
    }
    return std::nullopt;
}

std::optional<QString> ApplicationLauncher::obsidianDesktopEntry()
{
    return findDesktopEntry({QStringLiteral("obsidian.desktop"), QStringLiteral("md.obsidian.Obsidian.desktop")});
}

QStringList ApplicationLauncher::commandFor(const QString& desktopEntryPath, const QString& filePath, QString* error)
{
    const QString exec = execValue(desktopEntryPath);
    if (exec.isEmpty()) {
        if (error != nullptr) {
            *error = QStringLiteral("The desktop entry %1 has no command.").arg(desktopEntryPath);
        }
        return {};
    }
    QStringList command;
    bool placedFile = false;
    for (const QString& argument : splitExec(exec)) {
        const bool fileCode = argument == QStringLiteral("%f") || argument == QStringLiteral("%F");
        const bool urlCode = argument == QStringLiteral("%u") || argument == QStringLiteral("%U");
        if ((fileCode || urlCode) && filePath.isEmpty()) {
            continue;
        }
        if (fileCode) {
            command.append(filePath);
            placedFile = true;
        } else if (urlCode) {
            command.append(QUrl::fromLocalFile(filePath).toString(QUrl::FullyEncoded));
            placedFile = true;
        } else if (argument.size() == 2 && argument.startsWith(QLatin1Char('%'))) {
            continue; // %i, %c, %k and the deprecated codes carry nothing we need
        } else {
            QString plain = argument;
            plain.replace(QStringLiteral("%%"), QStringLiteral("%"));
            command.append(plain);
        }
    }
    if (!placedFile && !command.isEmpty() && !filePath.isEmpty()) {
        command.append(filePath);
    }
    return command;
}

QString ApplicationLauncher::launch(const QString& desktopEntryPath)
{
    return openFile(desktopEntryPath, QString());
}

QString ApplicationLauncher::openFile(const QString& desktopEntryPath, const QString& filePath)
{
    QString error;
    QStringList command = commandFor(desktopEntryPath, filePath, &error);
    if (command.isEmpty()) {
        return error;
    }
    const QString program = command.takeFirst();
    if (!QProcess::startDetached(program, command)) {
        return QStringLiteral("Could not start %1.").arg(program);
    }
    return {};
}

bool ApplicationLauncher::activateRunningApplication(const QStringList& windowClasses)
{
    const QString wmctrl = QStandardPaths::findExecutable(QStringLiteral("wmctrl"));
    if (wmctrl.isEmpty()) {
        return false;
    }
    for (const QString& windowClass : windowClasses) {
        if (QProcess::execute(wmctrl, {QStringLiteral("-x"), QStringLiteral("-a"), windowClass}) == 0) {
            return true;
        }
    }
    return false;
}
