#include "core/Graphemes.h"

#include <QTextBoundaryFinder>

qsizetype Graphemes::count(const QString& text)
{
    qsizetype seen = 0;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    while (finder.toNextBoundary() > 0) {
        ++seen;
    }
    return seen;
}

std::optional<QString> Graphemes::cut(const QString& text, qsizetype count)
{
    if (text.size() <= count) {
        return std::nullopt; // fewer code units than characters asked for: nothing to cut
    }
    // Stops at the cut: a long text is not walked to its end.
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype position = 0;
    for (qsizetype seen = 0; seen < count; ++seen) {
        position = finder.toNextBoundary();
        if (position < 0 || position >= text.size()) {
            return std::nullopt;
        }
    }
    return text.left(position);
}

QString Graphemes::left(const QString& text, qsizetype count)
{
    return cut(text, count).value_or(text);
}
