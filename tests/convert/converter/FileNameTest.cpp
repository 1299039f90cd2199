// File names made from titles and from attachment names taken from the page.

#include "convert/MarkdownConverter.h"

#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

namespace {

qsizetype graphemes(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0) {
        ++count;
    }
    return count;
}

QString repeated(const QString& unit, int times)
{
    QString text;
    for (int i = 0; i < times; ++i) {
        text += unit;
    }
    return text;
}

TEST(SanitizeFilename, Cases)
{
    const QString a200 = repeated(QStringLiteral("a"), 200);
    // "e" with a combining acute accent: one user-perceived character, two UTF-16 units.
    const QString accented = QStringLiteral("e\u0301");
    const QString thumbs = QStringLiteral("\U0001F44D\U0001F3FD");
    struct Case {
        QString input;
        QString output;
        const char* rule;
    };
    const Case cases[] = {
        { QStringLiteral("a/b:c?.md"), QStringLiteral("a_b_c_.md"), "separators and reserved characters" },
        { QStringLiteral("back\\slash*\"<>|"), QStringLiteral("back_slash_____"), "the whole reserved class" },
        { QStringLiteral("100%20done"), QStringLiteral("100_done"), "an encoded blank" },
        { QStringLiteral("...hidden"), QStringLiteral("hidden"), "all leading dots" },
        { QStringLiteral("..."), QStringLiteral("untitled"), "only dots" },
        { QStringLiteral(".."), QStringLiteral("untitled"), "the parent folder" },
        { QString(), QStringLiteral("untitled"), "empty" },
        { QStringLiteral("../../etc/passwd"), QStringLiteral("_.._etc_passwd"), "a path climbing out" },
        { QStringLiteral("nul") + QChar(u'\0') + QStringLiteral("x"), QStringLiteral("nul_x"), "a NUL" },
        { QStringLiteral("Chat v1.2 (draft)"), QStringLiteral("Chat v1.2 (draft)"), "ordinary names stay" },
        { a200 + QStringLiteral(".md"), a200.left(125) + QStringLiteral(".md"), "long name keeps its extension, 128 in all" },
        { a200, a200.left(128), "long name without extension" },
        { a200 + QLatin1Char('.') + repeated(QStringLiteral("x"), 120),
            (a200 + QLatin1Char('.') + repeated(QStringLiteral("x"), 120)).left(128), "extension too long to keep" },
        { repeated(accented, 128), repeated(accented, 128), "128 user-perceived characters stay" },
        { repeated(accented, 130), repeated(accented, 128), "cut at user-perceived characters" },
        { repeated(thumbs, 126) + QStringLiteral(".md"), repeated(thumbs, 125) + QStringLiteral(".md"),
            "emoji with modifiers count once" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MarkdownConverter::sanitizeFilename(c.input), c.output) << c.rule;
    }
    EXPECT_EQ(graphemes(MarkdownConverter::sanitizeFilename(a200 + QStringLiteral(".md"))), 128);
}

TEST(SanitizeFilename, HostileNamesStayInsideTheirFolder)
{
    const QString hostile[] = {
        QStringLiteral("."), QStringLiteral(".."), QStringLiteral("../x"), QStringLiteral("..\\x"),
        QStringLiteral("/etc/passwd"), QStringLiteral(".bashrc"), QStringLiteral(". ."),
        QStringLiteral("%2E%2E%2F"), QStringLiteral("a/../../b"), QStringLiteral("...."),
    };
    for (const QString& name : hostile) {
        const QString result = MarkdownConverter::sanitizeFilename(name);
        EXPECT_FALSE(result.isEmpty()) << name.toStdString();
        EXPECT_FALSE(result.contains(QLatin1Char('/'))) << name.toStdString();
        EXPECT_FALSE(result.contains(QLatin1Char('\\'))) << name.toStdString();
        EXPECT_FALSE(result.startsWith(QLatin1Char('.'))) << name.toStdString();
    }
}

} // namespace
