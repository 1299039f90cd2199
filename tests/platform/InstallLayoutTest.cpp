// `cmake --install` of this build into a prefix of its own, as a user installs into ~/.local.

#include "DesktopEntryChecks.h"

#include "platform/DesktopIntegration.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST(InstallLayout, LaysOutTheProgramItsEntryAndItsIcon)
{
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    // A space in the prefix: the entry's Exec has to quote the program.
    const QString prefix = root.filePath(QStringLiteral("home/moss user/.local"));
    // Every install rule is in the default component; naming it keeps the build folder's own
    // install_manifest.txt (a user's record of a real install) as it is.
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(MOSSBRIDGE_CMAKE_COMMAND),
        {QStringLiteral("--install"), QStringLiteral(MOSSBRIDGE_BUILD_DIR), QStringLiteral("--component"),
            QStringLiteral("Unspecified"), QStringLiteral("--prefix"), prefix});
    ASSERT_TRUE(install.waitForFinished(120000));
    const QString output = QString::fromUtf8(install.readAll());
    ASSERT_EQ(install.exitStatus(), QProcess::NormalExit) << output.toStdString();
    ASSERT_EQ(install.exitCode(), 0) << output.toStdString();

    const QString program = prefix + QStringLiteral("/bin/mossbridge");
    EXPECT_TRUE(QFileInfo(program).isExecutable()) << output.toStdString();

    const QString entryPath = prefix + QStringLiteral("/share/applications/") + DesktopIntegration::desktopFileName();
    const QString entry = QString::fromUtf8(readAll(entryPath));
    EXPECT_EQ(desktopentry::value(entry, QStringLiteral("Exec")), QLatin1Char('"') + program + QStringLiteral("\" %u"));
    // Byte for byte the entry the installed program writes for itself at start.
    EXPECT_EQ(entry, DesktopIntegration::desktopEntry(program));
    if (const std::optional<QString> report = desktopentry::validationReport(entryPath)) {
        EXPECT_EQ(*report, QString());
    }

    const QString icon = prefix + QStringLiteral("/share/") + DesktopIntegration::iconSubpath();
    EXPECT_EQ(readAll(icon), readAll(QString::fromLatin1(DesktopIntegration::iconResource)));
    const bool ran = desktopentry::withDataDirs({prefix + QStringLiteral("/share")}, [&] {
        EXPECT_EQ(desktopentry::resolveIcon(desktopentry::value(entry, QStringLiteral("Icon"))), icon);
    });
    EXPECT_TRUE(ran) << "the hicolor icon theme (hicolor-icon-theme) is not installed";
}
