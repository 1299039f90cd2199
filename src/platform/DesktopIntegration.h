#pragma once

#include <QString>

#include <functional>

// Makes the program the desktop's handler of "mossbridge://" links: its desktop entry under
// $XDG_DATA_HOME/applications (with the icon it names), the default-handler setting through
// xdg-mime, and a rebuild of the desktop's handler cache when the check still finds another
// handler. Blocking (it runs helper programs): call it off the main thread.
class DesktopIntegration {
public:
    struct Tools {
        QString xdgMime = QStringLiteral("xdg-mime");
        QString updateDesktopDatabase = QStringLiteral("update-desktop-database");
    };

    using Log = std::function<void(const QString& line)>;

    // The entry's file name: the application id + ".desktop".
    static QString desktopFileName();
    static constexpr const char* schemeMimeType = "x-scheme-handler/mossbridge";
    // The program's icon (the logo), which the windows carry too.
    static constexpr const char* iconResource = ":/resources/logo-trimmed.svg";

    // The folder the entry is written to ($XDG_DATA_HOME/applications).
    static QString applicationsFolder();
    // The icon's place below a data folder: icons/hicolor/scalable/apps/<application id>.svg;
    // the entry names it by the application id, which the icon theme looks up.
    static QString iconSubpath();
    // The entry's text for the given program.
    static QString desktopEntry(const QString& executablePath);
    // Quotes a path for an Exec line when it needs it.
    static QString quoteExecArgument(const QString& argument);

    // Writes the icon into $XDG_DATA_HOME when no folder of XDG_DATA_DIRS has it installed,
    // then the entry; each only when its bytes changed. Sets the default handler and checks
    // it. Logs "Registered URL handler for mossbridge://" when the check finds this entry;
    // otherwise rebuilds the cache and logs "Forced Launch Services re-register" or, when the
    // tool cannot run, "Launch Services re-register failed". A file that could not be written
    // is logged as an "[ERR] " line and the old one, if any, stays as it was.
    static void ensureURLSchemeDefaultHandler(const QString& executablePath, const Log& log, const Tools& tools);
    static void ensureURLSchemeDefaultHandler(const QString& executablePath, const Log& log)
    {
        ensureURLSchemeDefaultHandler(executablePath, log, Tools());
    }

    // What xdg-mime names as the scheme's default handler ("" when none or it failed).
    static QString queryDefaultHandler(const Tools& tools);
    static QString queryDefaultHandler() { return queryDefaultHandler(Tools()); }
};
