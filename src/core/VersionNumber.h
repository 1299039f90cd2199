#pragma once

#include <QString>

// Version strings compared the way people read them: runs of digits as numbers ("0.10.0" is
// newer than "0.9.9"), everything else character by character.
class VersionNumber {
public:
    // Negative, zero or positive as `a` is older than, equal to or newer than `b`. When one is
    // the start of the other, the shorter is older ("1.0" before "1.0.0").
    static int compare(const QString& a, const QString& b);
};
