#include "platform/BrowserFinder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

class BrowserFinderTest : public ::testing::Test {
protected:
    QString place(const QString& relative, bool executable = true, const QByteArray& content = "#!/bin/sh\n")
    {
        const QString path = dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
        if (executable) {
            permissions |= QFile::ExeOwner;
        }
        file.setPermissions(permissions);
        return path;
    }
    BrowserFinder finder() const
    {
        return BrowserFinder({dir.filePath(QStringLiteral("bin")), dir.filePath(QStringLiteral("usr/bin"))},
            {dir.filePath(QStringLiteral("opt/google/chrome/chrome"))});
    }

    QTemporaryDir dir;
};

TEST_F(BrowserFinderTest, PrefersChromeThenItsFixedPlaceThenChromium)
{
    EXPECT_EQ(finder().findBrowser(), std::nullopt);

    const QString chromium = place(QStringLiteral("usr/bin/chromium"));
    EXPECT_EQ(finder().findBrowser(), chromium);

    const QString fixed = place(QStringLiteral("opt/google/chrome/chrome"));
    EXPECT_EQ(finder().findBrowser(), fixed);

    place(QStringLiteral("bin/google-chrome"), false); // not executable: not a browser
    EXPECT_EQ(finder().findBrowser(), fixed);

    const QString chrome = place(QStringLiteral("usr/bin/google-chrome"));
    EXPECT_EQ(finder().findBrowser(), chrome);

    const QString stable = place(QStringLiteral("usr/bin/google-chrome-stable"));
    EXPECT_EQ(finder().findBrowser(), stable);
}

TEST_F(BrowserFinderTest, ChromiumBrowserCountsToo)
{
    const QString chromium = place(QStringLiteral("bin/chromium-browser"));
    EXPECT_EQ(finder().findBrowser(), chromium);
}

TEST_F(BrowserFinderTest, OpensTheAddressWithoutTheActivationToken)
{
    const QString record = dir.filePath(QStringLiteral("record.txt"));
    const QString browser = place(QStringLiteral("bin/google-chrome"), true,
        QStringLiteral("#!/bin/sh\nprintf '%s|%s|%s' \"$1\" \"${DESKTOP_STARTUP_ID-unset}\" "
                       "\"${XDG_ACTIVATION_TOKEN-unset}\" > '%1.tmp' && mv '%1.tmp' '%1'\n")
            .arg(record)
            .toUtf8());
    qputenv("DESKTOP_STARTUP_ID", "token-1");
    qputenv("XDG_ACTIVATION_TOKEN", "token-2");
    const auto error = finder().openInBackground(browser, QUrl(QStringLiteral("https://example.test/connect/chrome?a=1")));
    qunsetenv("DESKTOP_STARTUP_ID");
    qunsetenv("XDG_ACTIVATION_TOKEN");
    ASSERT_EQ(error, std::nullopt);

    for (int i = 0; i < 500 && !QFile::exists(record); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    QFile file(record);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("https://example.test/connect/chrome?a=1|unset|unset"));
}

TEST_F(BrowserFinderTest, AProgramThatCannotStartGivesAnError)
{
    const auto error = finder().openInBackground(dir.filePath(QStringLiteral("missing")), QUrl(QStringLiteral("https://example.test")));
    ASSERT_TRUE(error.has_value());
    EXPECT_FALSE(error->isEmpty());
}

} // namespace
