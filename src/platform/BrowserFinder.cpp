#include "platform/BrowserFinder.h"

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <utility>

namespace {

const QString kChromeFixedPath = QStringLiteral("/opt/google/chrome/chrome");

bool isExecutableFile(const QString& path)
{
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

BrowserFinder::BrowserFinder()
    : BrowserFinder(QProcessEnvironment::systemEnvironment().value(QStringLiteral("PATH"))
                        .split(QLatin1Char(':'), Qt::SkipEmptyParts),
          {kChromeFixedPath})
{
}

BrowserFinder::BrowserFinder(QStringList searchDirectories, QStringList fixedPaths)
    : searchDirectories_(std::move(searchDirectories))
    , fixedPaths_(std::move(fixedPaths))
{
}

std::optional<QString> BrowserFinder::findBrowser() const
{
    auto onPath = [this](const QString& name) -> std::optional<QString> {
        if (searchDirectories_.isEmpty()) {
            return std::nullopt;
        }
        const QString found = QStandardPaths::findExecutable(name, searchDirectories_);
        return found.isEmpty() ? std::nullopt : std::optional<QString>(found);
    };
    // Chrome first, in the order its packages install it; Chromium only when Chrome is absent.
    for (const QString& name : chromeCommands()) {
        if (auto found = onPath(name)) {
            return found;
        }
    }
    for (const QString& path : fixedPaths_) {
        if (isExecutableFile(path)) {
            return path;
        }
    }
    for (const QString& name : chromiumCommands()) {
        if (auto found = onPath(name)) {
            return found;
        }
    }
    return std::nullopt;
}

QStringList BrowserFinder::chromeCommands()
{
    return {QStringLiteral("google-chrome-stable"), QStringLiteral("google-chrome")};
}

QStringList BrowserFinder::chromiumCommands()
{
    return {QStringLiteral("chromium"), QStringLiteral("chromium-browser")};
}

QStringList BrowserFinder::windowClasses()
{
    return QStringList {QStringLiteral("google-chrome")} + chromiumCommands();
}

std::optional<QString> BrowserFinder::openInBackground(const QString& browser, const QUrl& url) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Without a startup or activation token the window manager does not give the new tab focus.
    environment.remove(QStringLiteral("DESKTOP_STARTUP_ID"));
    environment.remove(QStringLiteral("XDG_ACTIVATION_TOKEN"));
    QProcess process;
    process.setProgram(browser);
    process.setArguments({url.toString(QUrl::FullyEncoded)});
    process.setProcessEnvironment(environment);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        return process.errorString();
    }
    return std::nullopt;
}
