// File names made from titles and from attachment names taken from the page.

#include "convert/MarkdownConverter.h"
#include "support/TestSupport.h"

#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

namespace {

using testsupport::repeated;

qsizetype graphemes(const QString& text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() > 0) {
        ++count;
    }
    return count;
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
        { repeated(accented, 60) + repeated(QStringLiteral("a"), 68), repeated(accented, 60) + repeated(QStringLiteral("a"), 68),
            "128 user-perceived characters stay" },
        { repeated(accented, 60) + repeated(QStringLiteral("a"), 70), repeated(accented, 60) + repeated(QStringLiteral("a"), 68),
            "cut at user-perceived characters" },
        { repeated(thumbs, 10) + repeated(QStringLiteral("a"), 116) + QStringLiteral(".md"),
            repeated(thumbs, 10) + repeated(QStringLiteral("a"), 115) + QStringLiteral(".md"), "emoji with modifiers count once" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MarkdownConverter::sanitizeFilename(c.input), c.output) << c.rule;
    }
    EXPECT_EQ(graphemes(MarkdownConverter::sanitizeFilename(a200 + QStringLiteral(".md"))), 128);
}

// After the 128 characters, names fit the file system's 255 bytes of UTF-8: the base is cut at
// the end of a user-perceived character and the extension stays. Titles in CJK scripts or in
// emoji reach that limit well before 128 characters.
TEST(SanitizeFilename, FitsTheFileSystem)
{
    const QString cjk = QStringLiteral("\u6f22");          // 3 bytes
    const QString smile = QStringLiteral("\U0001F600");    // 4 bytes
    const QString thumbs = QStringLiteral("\U0001F44D\U0001F3FD");   // 8 bytes, one character
    const QString mark = QStringLiteral("\u0301");         // 2 bytes, combines with what precedes
    struct Case {
        QString input;
        QString output;
        const char* rule;
    };
    const Case cases[] = {
        { repeated(cjk, 85), repeated(cjk, 85), "255 bytes exactly stay" },
        { repeated(cjk, 84) + QStringLiteral(".md"), repeated(cjk, 84) + QStringLiteral(".md"), "255 bytes with extension stay" },
        { repeated(cjk, 86), repeated(cjk, 85), "256 bytes are cut" },
        { repeated(cjk, 85) + QStringLiteral(".md"), repeated(cjk, 84) + QStringLiteral(".md"), "the extension stays" },
        { repeated(cjk, 200) + QStringLiteral(".pdf"), repeated(cjk, 83) + QStringLiteral(".pdf"),
            "128 characters first, then the bytes" },
        { repeated(smile, 100), repeated(smile, 63), "emoji" },
        { repeated(thumbs, 100) + QStringLiteral(".md"), repeated(thumbs, 31) + QStringLiteral(".md"),
            "an emoji with its modifier is not split" },
        { QStringLiteral("a") + repeated(mark, 300), QStringLiteral("a") + repeated(mark, 127),
            "one character of 601 bytes is cut between its code points" },
        { QStringLiteral("a") + repeated(mark, 300) + QStringLiteral(".md"), QStringLiteral("a") + repeated(mark, 125) + QStringLiteral(".md"),
            "and keeps its extension" },
        { QStringLiteral("a.") + repeated(cjk, 90), QStringLiteral("a.") + repeated(cjk, 84),
            "an extension too long to keep is cut with the rest" },
    };
    for (const Case& c : cases) {
        const QString result = MarkdownConverter::sanitizeFilename(c.input);
        EXPECT_EQ(result, c.output) << c.rule;
        EXPECT_LE(result.toUtf8().size(), 255) << c.rule;
    }
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
