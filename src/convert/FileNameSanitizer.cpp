#include "convert/FileNameSanitizer.h"

#include "core/FileNameLimit.h"
#include "core/Graphemes.h"

#include <QRegularExpression>

namespace {

// The text after the last "." (a leading dot starts no extension), as for a path.
QString pathExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot + 1) : QString();
}

// At most 128 user-perceived characters, the extension kept where it is short.
QString limitCharacters(const QString& text)
{
    if (text.size() <= 128 || Graphemes::count(text) <= 128) {
        return text;
    }
    const QString extension = pathExtension(text);
    const qsizetype limit = 127 - Graphemes::count(extension);
    if (!extension.isEmpty() && limit > 10) {
        const QString base = text.left(text.size() - extension.size() - 1);
        if (Graphemes::count(base) > limit) {
            return Graphemes::left(base, limit) + QLatin1Char('.') + extension;
        }
        return text;
    }
    return Graphemes::left(text, 128);
}

// At most 255 bytes of UTF-8, the extension kept.
QString fitFileSystem(const QString& text)
{
    const QString extension = pathExtension(text);
    if (extension.isEmpty()) {
        return FileNameLimit::fit(text);
    }
    return FileNameLimit::fit(text.left(text.size() - extension.size() - 1), QLatin1Char('.') + extension);
}

} // namespace

QString FileNameSanitizer::sanitize(const QString& name)
{
    QString text = name;
    text.replace(QLatin1String("%20"), QLatin1String("_"));
    text.replace(QLatin1Char('/'), QLatin1Char('_'));
    static const QRegularExpression forbidden(QStringLiteral("[\\\\/*?:\"<>|]"));
    text.replace(forbidden, QStringLiteral("_"));
    // A NUL would cut the name short when it reaches the file system.
    text.replace(QChar(u'\0'), QLatin1Char('_'));
    qsizetype dots = 0;
    while (dots < text.size() && text.at(dots) == QLatin1Char('.')) {
        ++dots;
    }
    text.remove(0, dots);
    if (text.isEmpty()) {
        return QStringLiteral("untitled");
    }
    return fitFileSystem(limitCharacters(text));
}
