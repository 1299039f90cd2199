#include "DesktopEntryChecks.h"

#include "platform/ApplicationLauncher.h"
#include "platform/DesktopIntegration.h"

#include "support/ChildProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QStringList registerAndCollect(const QString& executable, const DesktopIntegration::Tools& tools = {})
{
    QStringList lines;
    DesktopIntegration::ensureURLSchemeDefaultHandler(executable, [&lines](const QString& line) { lines.append(line); }, tools);
    return lines;
}

QString entryPath()
{
    return DesktopIntegration::applicationsFolder() + QLatin1Char('/') + DesktopIntegration::desktopFileName();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

TEST(UrlSchemeRegistration, WritesTheEntrySetsTheHandlerAndASecondRunOnlyConfirms)
{
    // The test entry point points XDG_DATA_HOME and XDG_CONFIG_HOME at temporary folders.
    ASSERT_TRUE(DesktopIntegration::applicationsFolder().startsWith(QDir::tempPath()));
    const QString program = QStringLiteral("/opt/Moss Bridge/mossbridge");

    EXPECT_EQ(registerAndCollect(program), QStringList {QStringLiteral("Registered URL handler for mossbridge://")});
    QFile entry(entryPath());
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    EXPECT_TRUE(text.contains(QStringLiteral("Exec=\"/opt/Moss Bridge/mossbridge\" %u\n"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("MimeType=x-scheme-handler/mossbridge;\n")));
    EXPECT_EQ(DesktopIntegration::queryDefaultHandler(), QStringLiteral("app.mossbridge.Mossbridge.desktop"));

    EXPECT_EQ(registerAndCollect(program), QStringList {QStringLiteral("Registered URL handler for mossbridge://")});
}

TEST(UrlSchemeRegistration, TheEntryValidatesAndItsIconResolvesWhetherTheIconIsInstalledOrNot)
{
    const QByteArray logo = readAll(QString::fromLatin1(DesktopIntegration::iconResource));
    ASSERT_FALSE(logo.isEmpty());
    const QString userIcon = qEnvironmentVariable("XDG_DATA_HOME") + QLatin1Char('/') + DesktopIntegration::iconSubpath();
    // A data folder as a package lays it out.
    QTemporaryDir package;
    const QString packagedIcon = package.filePath(DesktopIntegration::iconSubpath());
    ASSERT_TRUE(writeAll(packagedIcon, logo));

    const struct {
        const char* name;
        bool installed;
        QString expectedIcon;
    } cases[] = {
        {"no icon installed: the program's own beside the entry", false, userIcon},
        {"an installed icon is used as it is", true, packagedIcon},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(userIcon);
        const bool ran = desktopentry::withDataDirs(c.installed ? QStringList {package.path()} : QStringList {}, [&] {
            EXPECT_EQ(registerAndCollect(QStringLiteral("/usr/bin/mossbridge")),
                QStringList {QStringLiteral("Registered URL handler for mossbridge://")});
            const QString entry = QString::fromUtf8(readAll(entryPath()));
            EXPECT_EQ(desktopentry::value(entry, QStringLiteral("Exec")), QStringLiteral("/usr/bin/mossbridge %u"));
            const QString icon = desktopentry::resolveIcon(desktopentry::value(entry, QStringLiteral("Icon")));
            EXPECT_EQ(icon, c.expectedIcon);
            EXPECT_FALSE(QImage(icon).isNull());
            EXPECT_EQ(QFileInfo::exists(userIcon), !c.installed);
            if (!c.installed) {
                EXPECT_EQ(readAll(userIcon), logo);
            }
            if (const std::optional<QString> report = desktopentry::validationReport(entryPath())) {
                EXPECT_EQ(*report, QString());
            }
        });
        ASSERT_TRUE(ran) << "the hicolor icon theme (hicolor-icon-theme) is not installed";
    }
}

TEST(UrlSchemeRegistration, RebuildsTheCacheWhenTheCheckFindsAnotherHandler)
{
    struct Case {
        const char* name;
        QString updateDesktopDatabase;
        QString expected;
    };
    // xdg-mime replaced by a tool that answers nothing: the check fails.
    const QString silent = QStandardPaths::findExecutable(QStringLiteral("true"));
    ASSERT_FALSE(silent.isEmpty());
    const Case cases[] = {
        {"the rebuild runs", QStandardPaths::findExecutable(QStringLiteral("true")), QStringLiteral("Forced Launch Services re-register")},
        {"the rebuild cannot start", QStringLiteral("/nonexistent/update-desktop-database"), QStringLiteral("Launch Services re-register failed")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DesktopIntegration::Tools tools;
        tools.xdgMime = silent;
        tools.updateDesktopDatabase = c.updateDesktopDatabase;
        EXPECT_EQ(registerAndCollect(QStringLiteral("/usr/bin/mossbridge"), tools), QStringList {c.expected});
    }
}

// The entry is written for real in a child whose file-size limit it exceeds.
TEST(UrlSchemeRegistration, AnEntryThatCannotBeWrittenLeavesTheOldOneAndIsLogged)
{
    const QByteArray old("[Desktop Entry]\nType=Application\nName=Mossbridge\nExec=/old/mossbridge %u\n");
    ASSERT_TRUE(QDir().mkpath(DesktopIntegration::applicationsFolder()));
    QFile file(entryPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(old) == old.size());
    file.close();
    const QStringList before = QDir(DesktopIntegration::applicationsFolder()).entryList(QDir::Files | QDir::Hidden);
    // The icon is in place already, so only the entry is written.
    const QString userIcon = qEnvironmentVariable("XDG_DATA_HOME") + QLatin1Char('/') + DesktopIntegration::iconSubpath();
    ASSERT_TRUE(writeAll(userIcon, readAll(QString::fromLatin1(DesktopIntegration::iconResource))));
    const auto removeIcon = qScopeGuard([&] { QFile::remove(userIcon); });

    DesktopIntegration::Tools tools;
    tools.xdgMime = QStringLiteral("/nonexistent/xdg-mime");
    tools.updateDesktopDatabase = QStringLiteral("/nonexistent/update-desktop-database");
    const auto report = testsupport::runInChild([&] {
        testsupport::limitFileSize(old.size());
        return QJsonObject{{QStringLiteral("lines"),
            QJsonArray::fromStringList(registerAndCollect(QStringLiteral("/usr/bin/mossbridge"), tools))}};
    });
    ASSERT_TRUE(report);
    QStringList lines;
    for (const QJsonValue& line : report->value(QStringLiteral("lines")).toArray()) {
        lines.append(line.toString());
    }
    EXPECT_EQ(lines, (QStringList{QStringLiteral("[ERR] Could not write \"%1\": File too large").arg(entryPath()),
                         QStringLiteral("Launch Services re-register failed")}));
    QFile after(entryPath());
    ASSERT_TRUE(after.open(QIODevice::ReadOnly));
    EXPECT_EQ(after.readAll(), old);
    EXPECT_EQ(QDir(DesktopIntegration::applicationsFolder()).entryList(QDir::Files | QDir::Hidden), before);
}

TEST(UrlSchemeRegistration, ExecArgumentsAreQuotedOnlyWhenNeeded)
{
    const std::pair<QString, QString> cases[] = {
        {QStringLiteral("/usr/bin/mossbridge"), QStringLiteral("/usr/bin/mossbridge")},
        {QStringLiteral("/home/a b/mossbridge"), QStringLiteral("\"/home/a b/mossbridge\"")},
        {QStringLiteral("/tmp/100%/m"), QStringLiteral("/tmp/100%%/m")},
        {QStringLiteral("/tmp/$x/m"), QStringLiteral("\"/tmp/\\\\$x/m\"")},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(DesktopIntegration::quoteExecArgument(path), expected) << path.toStdString();
    }
}

TEST(ApplicationLauncher, BuildsTheEntrysCommandWithTheFile)
{
    QTemporaryDir dir;
    const QString entry = dir.filePath(QStringLiteral("obsidian.desktop"));
    const struct {
        const char* exec;
        QStringList expected;
    } cases[] = {
        {"/usr/bin/obsidian %U", {"/usr/bin/obsidian", "file:///notes/My%20Note.md"}},
        {"\"/opt/Obsidian App/obsidian\" --no-sandbox %f", {"/opt/Obsidian App/obsidian", "--no-sandbox", "/notes/My Note.md"}},
        {"flatpak run md.obsidian.Obsidian", {"flatpak", "run", "md.obsidian.Obsidian", "/notes/My Note.md"}},
        {"obsidian --icon %i %u", {"obsidian", "--icon", "file:///notes/My%20Note.md"}},
    };
    for (const auto& c : cases) {
        QFile file(entry);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QByteArray("[Desktop Entry]\nType=Application\nName=Obsidian\nExec=") + c.exec
            + "\n[Desktop Action new]\nExec=other\n");
        file.close();
        EXPECT_EQ(ApplicationLauncher::commandFor(entry, QStringLiteral("/notes/My Note.md")), c.expected) << c.exec;
    }
}
