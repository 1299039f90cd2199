#pragma once

#include <QString>
#include <QStringView>

// The Markdown text being written for one node and the few operations that lay it out: blocks
// after a blank line, lines after a line break, prefixes before every line. Nested constructs
// (quotes, list items, emphasis, cells) are written into an output of their own and then
// placed into their container's.
class MarkdownOutput {
public:
    const QString& text() const { return text_; }
    QString take() { return std::move(text_); }
    bool isEmpty() const { return text_.isEmpty(); }
    qsizetype size() const { return text_.size(); }
    void reserve(qsizetype size) { text_.reserve(size); }

    MarkdownOutput& operator+=(QStringView text);
    MarkdownOutput& operator+=(QLatin1StringView text);
    MarkdownOutput& operator+=(QChar c);

    bool atLineStart() const;
    // A block starts after a blank line (or at the very start of its container).
    void ensureBlankLine();
    void ensureLineStart();
    // Puts `first` before the first line of `text` and `rest` before every further line (empty
    // ones too when `prefixEmptyLines`); linear in the text.
    void appendPrefixed(QStringView text, QStringView first, QStringView rest, bool prefixEmptyLines);

    // Drops leading blank lines and trailing whitespace; the first line keeps its indentation.
    static QStringView trimBlankLines(QStringView text);

private:
    void chopTrailingBlanks();

    QString text_;
};
