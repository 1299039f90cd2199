#include "core/FileNameLimit.h"

#include <QTextBoundaryFinder>

namespace {

// UTF-8 bytes of the code unit at `i`: a surrogate pair takes four, counted on its first
// unit; a lone surrogate counts three, the most its replacement takes.
qsizetype unitBytes(QStringView text, qsizetype i)
{
    const char16_t u = text[i].unicode();
    if (u < 0x80)
        return 1;
    if (u < 0x800)
        return 2;
    if (QChar::isHighSurrogate(u) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1].unicode()))
        return 4;
    if (QChar::isLowSurrogate(u) && i > 0 && QChar::isHighSurrogate(text[i - 1].unicode()))
        return 0;
    return 3;
}

} // namespace

qsizetype FileNameLimit::utf8Size(QStringView text)
{
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < text.size(); ++i)
        bytes += unitBytes(text, i);
    return bytes;
}

QString FileNameLimit::cut(const QString& text, qsizetype limit)
{
    if (utf8Size(text) <= limit)
        return text;
    qsizetype end = 0;
    qsizetype bytes = 0;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype next = graphemes.toNextBoundary(); next > 0; next = graphemes.toNextBoundary()) {
        const qsizetype size = utf8Size(QStringView(text).mid(end, next - end));
        if (bytes + size > limit)
            break;
        bytes += size;
        end = next;
    }
    if (end == 0) {
        // The first character alone is too long: keep as many of its code points as fit.
        for (qsizetype i = 0; i < text.size(); ++i) {
            const qsizetype size = unitBytes(text, i);
            if (bytes + size > limit)
                break;
            bytes += size;
            end = i + 1;
        }
        if (end > 0 && QChar::isHighSurrogate(text[end - 1].unicode()))
            --end;
    }
    return text.left(end);
}

QString FileNameLimit::fit(const QString& base, const QString& suffix, qsizetype limit)
{
    const qsizetype suffixBytes = utf8Size(suffix);
    if (utf8Size(base) + suffixBytes <= limit)
        return base + suffix;
    const QString kept = suffixBytes < limit ? cut(base, limit - suffixBytes) : QString();
    if (kept.isEmpty() && !base.isEmpty())
        return cut(base + suffix, limit);
    return kept + suffix;
}
