#pragma once

#include <QString>

struct AppConfig {
    // The project's version from the build, "0.0.0" when none is set.
    static QString appVersion();
};
