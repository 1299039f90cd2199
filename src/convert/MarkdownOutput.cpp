#include "convert/MarkdownOutput.h"

MarkdownOutput& MarkdownOutput::operator+=(QStringView text)
{
    text_ += text;
    return *this;
}

MarkdownOutput& MarkdownOutput::operator+=(QLatin1StringView text)
{
    text_ += text;
    return *this;
}

MarkdownOutput& MarkdownOutput::operator+=(QChar c)
{
    text_ += c;
    return *this;
}

bool MarkdownOutput::atLineStart() const
{
    return text_.isEmpty() || text_.endsWith(QLatin1Char('\n'));
}

void MarkdownOutput::chopTrailingBlanks()
{
    qsizetype end = text_.size();
    while (end > 0 && (text_.at(end - 1) == QLatin1Char(' ') || text_.at(end - 1) == QLatin1Char('\t'))) {
        --end;
    }
    text_.truncate(end);
}

void MarkdownOutput::ensureBlankLine()
{
    chopTrailingBlanks();
    if (text_.isEmpty()) {
        return;
    }
    if (!text_.endsWith(QLatin1Char('\n'))) {
        text_ += QLatin1String("\n\n");
    } else if (!text_.endsWith(QLatin1String("\n\n"))) {
        text_ += QLatin1Char('\n');
    }
}

void MarkdownOutput::ensureLineStart()
{
    chopTrailingBlanks();
    if (!text_.isEmpty() && !text_.endsWith(QLatin1Char('\n'))) {
        text_ += QLatin1Char('\n');
    }
}

void MarkdownOutput::appendPrefixed(QStringView text, QStringView first, QStringView rest, bool prefixEmptyLines)
{
    qsizetype pos = 0;
    bool firstLine = true;
    while (pos <= text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), pos);
        if (end < 0) {
            end = text.size();
        }
        const QStringView line = text.mid(pos, end - pos);
        if (firstLine) {
            text_ += first;
        } else if (prefixEmptyLines || !line.isEmpty()) {
            text_ += rest;
        }
        text_ += line;
        firstLine = false;
        if (end == text.size()) {
            break;
        }
        text_ += QLatin1Char('\n');
        pos = end + 1;
    }
}

QStringView MarkdownOutput::trimBlankLines(QStringView text)
{
    qsizetype start = 0;
    qsizetype lineStart = 0;
    while (start < text.size() && text.at(start).isSpace()) {
        if (text.at(start) == QLatin1Char('\n')) {
            lineStart = start + 1;
        }
        ++start;
    }
    if (start == text.size()) {
        return {};
    }
    qsizetype end = text.size();
    while (end > lineStart && text.at(end - 1).isSpace()) {
        --end;
    }
    return text.mid(lineStart, end - lineStart);
}
