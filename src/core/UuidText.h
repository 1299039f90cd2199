#pragma once

#include <QString>

// Identifiers on the wire, in log lines and in generated names: a fresh random UUID written
// upper-case without braces (8-4-4-4-12).
class UuidText {
public:
    static QString fresh();
};
