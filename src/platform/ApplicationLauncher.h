#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Other desktop programs, reached through their desktop entries: Obsidian to open a note file
// with, the browser to bring forward after the extension focused a tab.
class ApplicationLauncher {
public:
    // The first of the desktop entries (by file name, e.g. "obsidian.desktop") installed in the
    // XDG data folders; its absolute path.
    static std::optional<QString> findDesktopEntry(const QStringList& desktopFileNames);

    // Obsidian's desktop entry, when Obsidian is installed.
    static std::optional<QString> obsidianDesktopEntry();

    // The entry's command line with `filePath` for its file or URL field codes (dropped when
    // `filePath` is empty).
    static QStringList commandFor(const QString& desktopEntryPath, const QString& filePath, QString* error = nullptr);

    // Starts the entry's program with the file; the failure's text, or an empty string.
    static QString openFile(const QString& desktopEntryPath, const QString& filePath);
    // Starts the entry's program on its own.
    static QString launch(const QString& desktopEntryPath);

    // Brings a running program's windows forward by their window class (e.g. "google-chrome").
    // Best effort: only where the window manager lets wmctrl do it; false otherwise.
    static bool activateRunningApplication(const QStringList& windowClasses);
};
