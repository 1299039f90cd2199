#pragma once

#include <QString>
#include <QStringView>

// File names as the file system takes them: at most 255 bytes of UTF-8 (NAME_MAX), whatever
// the count of characters. A title of 85 CJK characters is already too long.
class FileNameLimit {
public:
    static constexpr qsizetype maxBytes = 255;

    static qsizetype utf8Size(QStringView text);

    // `base` + `suffix` (an extension with its dot, a " 2" counter, ...), with `base` cut at
    // the end of a user-perceived character so that the whole takes at most `limit` bytes.
    // A name that fits comes back as it is. When not even one character of `base` fits in
    // front of the suffix, the suffix is not kept and the whole is cut instead; a single
    // character longer than the limit (a letter with a great many combining marks) is cut
    // between its code points.
    static QString fit(const QString& base, const QString& suffix = QString(), qsizetype limit = maxBytes);

private:
    static QString cut(const QString& text, qsizetype limit);
};
