// Names cut to the file system's 255 bytes of UTF-8, never inside a user-perceived character
// while one fits.

#include "core/FileNameLimit.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

using testsupport::repeated;

TEST(FileNameLimit, Fit)
{
    const QString cjk = QStringLiteral("\u6f22");                            // 3 bytes
    const QString accented = QStringLiteral("e\u0301");                       // 3 bytes, one character
    const QString family = QStringLiteral("\U0001F468\u200D\U0001F469\u200D\U0001F467");   // 18 bytes, one character
    const QString flag = QStringLiteral("\U0001F1EF\U0001F1F5");              // 8 bytes, one character
    struct Case {
        QString base;
        QString suffix;
        qsizetype limit;
        QString expected;
        const char* rule;
    };
    const Case cases[] = {
        {QStringLiteral("Chat"), QStringLiteral(".md"), 255, QStringLiteral("Chat.md"), "a name that fits stays"},
        {repeated(cjk, 84), QStringLiteral(".md"), 255, repeated(cjk, 84) + QStringLiteral(".md"), "255 bytes exactly"},
        {repeated(cjk, 84), QStringLiteral(" 2.md"), 255, repeated(cjk, 83) + QStringLiteral(" 2.md"), "the base makes room"},
        {repeated(accented, 10), QStringLiteral(".x"), 16, repeated(accented, 4) + QStringLiteral(".x"),
            "an accent stays with its letter"},
        {QStringLiteral("a") + repeated(family, 3), QString(), 40, QStringLiteral("a") + repeated(family, 2),
            "a family emoji is one character"},
        {repeated(flag, 4), QStringLiteral("_1"), 20, repeated(flag, 2) + QStringLiteral("_1"), "flags are not split"},
        {QStringLiteral("a") + repeated(QStringLiteral("\u0301"), 10), QStringLiteral(".md"), 12,
            QStringLiteral("a") + repeated(QStringLiteral("\u0301"), 4) + QStringLiteral(".md"),
            "one character longer than the limit is cut between its code points"},
        {QStringLiteral("\U0001F600\U0001F600"), QString(), 7, QStringLiteral("\U0001F600"),
            "a code point is never split"},
        {QStringLiteral("ab"), repeated(cjk, 90), 255, QStringLiteral("ab") + repeated(cjk, 84).left(84),
            "a suffix too long to keep is cut with the rest"},
    };
    for (const Case& c : cases) {
        const QString fitted = FileNameLimit::fit(c.base, c.suffix, c.limit);
        EXPECT_EQ(fitted, c.expected) << c.rule;
        EXPECT_LE(fitted.toUtf8().size(), c.limit) << c.rule;
        EXPECT_EQ(FileNameLimit::utf8Size(fitted), fitted.toUtf8().size()) << c.rule;
    }
}

TEST(FileNameLimit, Utf8SizeNeverCountsShort)
{
    // A lone surrogate (a broken title) is written as a replacement of at most three bytes.
    const QString lone = QString(QChar(0xD800)) + QStringLiteral("a");
    EXPECT_GE(FileNameLimit::utf8Size(lone), lone.toUtf8().size());
    EXPECT_EQ(FileNameLimit::utf8Size(QStringLiteral("\U0001F600")), 4);
}

} // namespace
