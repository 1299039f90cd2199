#pragma once

#include <QString>

// Escaping of page text that ends up inside Markdown link syntax.
class MarkdownEscaping {
public:
    // An address as the destination of "[text](destination)": blanks, control characters,
    // angle brackets and parentheses would end or break the link, so they are
    // percent-encoded; a backslash is escaped so that it stays a backslash.
    static QString linkDestination(QStringView address);
    // Text inside "[...]": brackets and backslashes are escaped.
    static QString linkText(QStringView text);
};
