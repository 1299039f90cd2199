#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Finds the browser that runs the Mossbridge extension (Google Chrome, or Chromium, which runs
// the same extensions) and opens pages in it. Methods are virtual so that views can be shown
// with a stand-in browser.
class BrowserFinder {
public:
    // Searches the directories of $PATH and Chrome's fixed install place.
    BrowserFinder();
    // Searches `searchDirectories` for the browsers' command names and the `fixedPaths` as they are.
    BrowserFinder(QStringList searchDirectories, QStringList fixedPaths);
    virtual ~BrowserFinder() = default;

    BrowserFinder(const BrowserFinder&) = default;
    BrowserFinder& operator=(const BrowserFinder&) = default;

    // The browser's executable: google-chrome-stable, google-chrome, /opt/google/chrome/chrome,
    // then chromium and chromium-browser; nothing when none is installed.
    virtual std::optional<QString> findBrowser() const;

    // Launches the browser with the address, without handing it this program's activation
    // token, so the desktop keeps the focus where it is when it can. The error text on failure.
    virtual std::optional<QString> openInBackground(const QString& browser, const QUrl& url) const;

    // Chrome's commands in the order its packages install them, then Chromium's.
    static QStringList chromeCommands();
    static QStringList chromiumCommands();
    // The window classes of those browsers' windows (Chrome's are "google-chrome" whichever
    // command started it).
    static QStringList windowClasses();

private:
    QStringList searchDirectories_;
    QStringList fixedPaths_;
};
