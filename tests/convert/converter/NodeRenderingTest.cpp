// The rendering of message content: every element kind, folded details, code fences,
// tables and referenced messages, as whole note bodies; and which links are attachments.

#include "ConverterTestSupport.h"

#include "convert/HtmlDocument.h"
#include "convert/MarkdownConverter.h"

#include <gtest/gtest.h>

#include <algorithm>

using convtest::body;
using convtest::convert;
using convtest::FixtureNote;
using convtest::NoteCase;
using convtest::noteCaseName;
using convtest::page;

namespace {

const NoteCase renderingCases[] = {
    { "nodes.html", "nodes.md", "one of every element kind the renderer knows" },
    { "details.html", "details.md", "an italic-only paragraph before a quote folds into details" },
    { "code.html", "code.md",
        "languages, fences longer than any backtick run inside, inline code with backticks, code in a list" },
    { "tables.html", "tables.md", "header cells, Col names without them, ragged rows, escaped bars, one-line cells" },
    { "referenced.html", "referenced.md", "referenced messages with and without an author" },
};

INSTANTIATE_TEST_SUITE_P(NodeRendering, FixtureNote, ::testing::ValuesIn(renderingCases), noteCaseName);

TEST(NodeRendering, TextNodesKeepTheirWhitespace)
{
    const QString html = QStringLiteral(
        "<div data-message-id='1'><div class='Message_messageBubble__b'>"
        "<p>two  blanks,\ta tab and <b>bold</b>   after</p></div></div>");
    EXPECT_EQ(body(convert(html).note),
        QStringLiteral("\n> [!bot] Bot\n> two  blanks,\ta tab and **bold**   after\n"));
}

TEST(NodeRendering, AttachmentLinks)
{
    struct Case {
        const char* link;
        bool attachment;
    };
    const Case cases[] = {
        { "<a href='https://example.com/report.pdf'>r</a>", true },
        { "<a href='https://example.com/song.m4a'>r</a>", true },
        { "<a href='https://example.com/data.json'>r</a>", true },
        { "<a href='https://poecdn.net/some/thing'>r</a>", true },
        { "<a class='Attachments_attachment__q7' href='https://example.com/view'>r</a>", true },
        { "<a href='https://example.com/page'>r</a>", false },
        { "<a href='https://example.com/report.pdf?download=1'>r</a>", false },
        { "<a href='/relative/report.pdf'>r</a>", false },
        { "<a class='Attachments_attachment__q7' href='blob:https://poe.com/1'>r</a>", false },
        { "<a>no address</a>", false },
    };
    for (const Case& c : cases) {
        const auto document = HtmlDocument::parse(QString::fromLatin1(c.link));
        const HtmlNode* link = document->selectFirst(QStringLiteral("a"));
        ASSERT_NE(link, nullptr) << c.link;
        EXPECT_EQ(MarkdownConverter::isAttachment(*link), c.attachment) << c.link;
    }
}

TEST(NodeRendering, DeepNestingIsKeptAsText)
{
    // A page nested far deeper than any chat renders must not exhaust the stack.
    QString html = QStringLiteral("<div data-message-id='1'>");
    for (int i = 0; i < 5000; ++i) {
        html += QStringLiteral("<span>");
    }
    html += QStringLiteral("deep text");
    const QString note = convert(html).note;
    EXPECT_TRUE(note.contains(QStringLiteral("deep text")));
}

TEST(NodeRendering, QuotesAndListsNestedPastSixteenLevelsAddNoMorePrefixes)
{
    // Every quote puts "> " before each line inside it: twenty levels around many lines would
    // make the note twenty times the page. Past sixteen, content stays in plain blocks.
    struct Case {
        const char* name;
        QString open;
        QString close;
        QString deepest;   // the line of the innermost text
    };
    const Case cases[] = {
        {"quotes", QStringLiteral("<blockquote>"), QStringLiteral("</blockquote>"),
            QStringLiteral("> ").repeated(17) + QStringLiteral("inner")},
        {"lists", QStringLiteral("<ul><li>"), QStringLiteral("</li></ul>"),
            QStringLiteral("> ") + QStringLiteral("- ").repeated(16) + QStringLiteral("inner")},
    };
    for (const Case& c : cases) {
        const QString html = QStringLiteral("<div data-message-id='1'><div class='Message_messageBubble__b'>")
            + c.open.repeated(20) + QStringLiteral("inner") + c.close.repeated(20) + QStringLiteral("</div></div>");
        const QStringList lines = convert(html).note.split(QLatin1Char('\n'));
        EXPECT_TRUE(lines.contains(c.deepest)) << c.name << "\n" << lines.join(QLatin1Char('\n')).toStdString();
    }
}

} // namespace
