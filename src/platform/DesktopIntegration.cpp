#include "platform/DesktopIntegration.h"

#include "core/CheckedFileWriter.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace {
constexpr int toolTimeoutMs = 30000;

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
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Mossbridge\n"
               "Comment=Saves AI chats as Markdown notes in an Obsidian vault\n"
               "Icon=app.mossbridge.Mossbridge\n"
               "Exec=")
        + quoteExecArgument(executablePath)
        + QStringLiteral(
            " %u\n"
            "Terminal=false\n"
            "Categories=Utility;Office;\n"
            "MimeType=x-scheme-handler/mossbridge;\n"
            "StartupNotify=false\n");
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
    const QString folder = applicationsFolder();
    const QString entryPath = folder + QLatin1Char('/') + QString::fromLatin1(desktopFileName);
    const QByteArray entry = desktopEntry(executablePath).toUtf8();
    QFile existing(entryPath);
    const bool unchanged = existing.open(QIODevice::ReadOnly) && existing.readAll() == entry;
    existing.close();
    if (!unchanged && QDir().mkpath(folder)) {
        if (const auto failure = CheckedFileWriter::writeAtomically(entryPath, entry)) {
            log(QStringLiteral("[ERR] ") + failure->message());
        }
    }

    runTool(tools.xdgMime, {QStringLiteral("default"), QString::fromLatin1(desktopFileName), QString::fromLatin1(schemeMimeType)});
    if (queryDefaultHandler(tools) == QString::fromLatin1(desktopFileName)) {
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
