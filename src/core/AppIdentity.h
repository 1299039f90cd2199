#pragma once

#include <QLatin1StringView>
#include <QString>

// The program's name on the desktop: the application id is the desktop entry's name, the icon's
// name, the D-Bus name and the prefix of the program's own signal and thread names.
class AppIdentity {
public:
    static constexpr QLatin1StringView applicationId {"app.mossbridge.Mossbridge"};

    static QString id() { return QString(applicationId); }
    // The id followed by `suffix` (".desktop", ".status", ...).
    static QString idWith(const char* suffix) { return id() + QLatin1StringView(suffix); }
};
