#pragma once

#include <QString>

// File names made from text of the page (a chat's title, an attachment's name): no path
// separators or reserved characters, no leading dot, at most 128 user-perceived characters,
// and then at most the 255 bytes of UTF-8 a file system takes, the extension kept.
class FileNameSanitizer {
public:
    static QString sanitize(const QString& name);
};
