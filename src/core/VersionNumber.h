#pragma once

#include <QString>

// Dotted version numbers compared part by part as numbers ("0.10.0" is newer than "0.9.9").
class VersionNumber {
public:
    // Negative, zero or positive as `a` is older than, equal to or newer than `b`. Runs of digits
    // compare as numbers; a missing part counts as 0; other characters compare as text.
    static int compare(const QString& a, const QString& b);
};
