#include "platform/DesktopIntegration.h"

#include "core/AppIdentity.h"
#include "core/CheckedFileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {
constexpr int toolTimeoutMs = 30000;

QByteArray resourceBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Replaces the file at path with bytes, whole or not at all; a failure is logged and the old
// file stays as it was.
void writeFile(const QString& path, const QByteArray& bytes, const DesktopIntegration::Log& log)
{
    if (const auto failure = CheckedFileWriter::writeAtomically(path, bytes)) {
        log(QStringLiteral("[ERR] ") + failure->message());
    }
}

// Writes bytes to path unless the file already holds them; creates the folder.
void writeWhenChanged(const QString& path, const QByteArray& bytes, const DesktopIntegration::Log& log)
{
    QFile existing(path);
    if (existing.open(QIODevice::ReadOnly) && existing.readAll() == bytes) {
        return;
    }
    existing.close();
    if (QDir().mkpath(QFileInfo(path).absolutePath())) {
        writeFile(path, bytes, log);
    }
}

// The icon is left to the installed copy when a data folder other than the user's own has it;
// otherwise the user's folder gets the program's own.
void ensureIcon(const DesktopIntegration::Log& log)
{
    const QString userCopy = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QLatin1Char('/')
        + DesktopIntegration::iconSubpath();
    for (const QString& found : QStandardPaths::locateAll(QStandardPaths::GenericDataLocation, DesktopIntegration::iconSubpath())) {
        if (QFileInfo(found).absoluteFilePath() != QFileInfo(userCopy).absoluteFilePath()) {
            return;
        }
    }
    const QByteArray icon = resourceBytes(QString::fromLatin1(DesktopIntegration::iconResource));
    if (!icon.isEmpty()) {
        writeWhenChanged(userCopy, icon, log);
    }
}

// Runs a tool to its end; false when it could not start or did not finish in time.
bool runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(toolTimeoutMs)) {
        return false;
    }
    if (!process.waitForFinished(toolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (output != nullptr) {
        *output = process.readAll();
    }
    return process.exitStatus() == QProcess::NormalExit;
}
} // namespace

QString DesktopIntegration::applicationsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/applications");
}

QString DesktopIntegration::desktopFileName()
{
    return AppIdentity::idWith(".desktop");
}

QString DesktopIntegration::iconSubpath()
{
    return QStringLiteral("icons/hicolor/scalable/apps/") + AppIdentity::id() + QStringLiteral(".svg");
}

QString DesktopIntegration::quoteExecArgument(const QString& argument)
{
    // Desktop entries reserve these characters in Exec; an argument holding any is quoted,
    // with ", `, $ and \ escaped inside the quotes.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = argument.isEmpty();
    for (const QChar c : argument) {
        needsQuotes = needsQuotes || reserved.contains(c);
    }
    QString escaped = argument;
    // "%" is the field-code marker and is doubled whether quoted or not.
    escaped.replace(QLatin1Char('%'), QStringLiteral("%%"));
    if (!needsQuotes) {
        return escaped;
    }
    QString quoted;
    for (const QChar c : escaped) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\')) {
            quoted += QLatin1Char('\\');
        }
        quoted += c;
    }
    // The entry's own string escaping turns each backslash into two.
    quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString DesktopIntegration::desktopEntry(const QString& executablePath)
{
    // The same template is installed by `cmake --install` (resources/InstallDesktopEntry.cmake).
    QString entry = QString::fromUtf8(resourceBytes(QStringLiteral(":/resources/") + AppIdentity::idWith(".desktop.in")));
    return entry.replace(QStringLiteral("@MOSSBRIDGE_EXEC@"), quoteExecArgument(executablePath));
}

QString DesktopIntegration::queryDefaultHandler(const Tools& tools)
{
    QByteArray output;
    if (!runTool(tools.xdgMime, {QStringLiteral("query"), QStringLiteral("default"), QString::fromLatin1(schemeMimeType)},
            &output)) {
        return {};
    }
    return QString::fromUtf8(output).trimmed();
}

void DesktopIntegration::ensureURLSchemeDefaultHandler(const QString& executablePath, const Log& log, const Tools& tools)
{
    ensureIcon(log);
    const QString folder = applicationsFolder();
    const QByteArray entry = desktopEntry(executablePath).toUtf8();
    if (!entry.isEmpty()) {
        writeWhenChanged(folder + QLatin1Char('/') + desktopFileName(), entry, log);
    }

    runTool(tools.xdgMime, {QStringLiteral("default"), desktopFileName(), QString::fromLatin1(schemeMimeType)});
    if (queryDefaultHandler(tools) == desktopFileName()) {
        log(QStringLiteral("Registered URL handler for mossbridge://"));
        return;
    }

    // Like the platform's own re-registration: the tool's exit status is not examined.
    QProcess rebuild;
    rebuild.setProcessChannelMode(QProcess::MergedChannels);
    rebuild.start(tools.updateDesktopDatabase, {folder});
    if (!rebuild.waitForStarted(toolTimeoutMs)) {
        log(QStringLiteral("Launch Services re-register failed"));
        return;
    }
    if (!rebuild.waitForFinished(toolTimeoutMs)) {
        rebuild.kill();
        rebuild.waitForFinished();
    }
    log(QStringLiteral("Forced Launch Services re-register"));
}
