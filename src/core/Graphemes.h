#pragma once

#include <QString>

#include <optional>

// User-perceived characters (grapheme clusters), as names and titles are counted and cut.
class Graphemes {
public:
    static qsizetype count(const QString& text);
    // The first `count` characters when the text has more; nothing when it has not.
    static std::optional<QString> cut(const QString& text, qsizetype count);
    // The first `count` characters, or the whole text when it is not longer.
    static QString left(const QString& text, qsizetype count);
};
