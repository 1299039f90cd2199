// How deep the parsed tree nests: pages below the limit reach gumbo byte for byte unchanged,
// deeper pages keep all their content with the tree cut at HtmlDocument::maxDepth, and gumbo
// itself never gets a page nested much deeper than it was allowed to see.

#include "convert/HtmlDepthLimiter.h"
#include "convert/HtmlDocument.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <gumbo.h>

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

namespace {

using testsupport::repeated;

// gumbo's own tree for a page, as deep as its elements go (html is 1).
int gumboDepth(const QByteArray& page)
{
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0;
    GumboOutput* output = gumbo_parse_with_options(&options, page.constData(), size_t(page.size()));
    int deepest = 0;
    std::vector<std::pair<const GumboNode*, int>> stack {{output->root, 1}};
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, depth);
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE)
            continue;
        for (unsigned i = 0; i < node->v.element.children.length; ++i) {
            const auto* child = static_cast<const GumboNode*>(node->v.element.children.data[i]);
            if (child->type == GUMBO_NODE_ELEMENT || child->type == GUMBO_NODE_TEMPLATE)
                stack.push_back({child, depth + 1});
        }
    }
    gumbo_destroy_output(&options, output);
    return deepest;
}

int domDepth(const HtmlNode* root)
{
    int deepest = 0;
    std::vector<std::pair<const HtmlNode*, int>> stack {{root, 1}};
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, depth);
        for (const HtmlNode* child : node->childElements())
            stack.push_back({child, depth + 1});
    }
    return deepest;
}

TEST(HtmlDepthLimit, PagesBelowTheLimitReachTheParserAsTheyAre)
{
    // Markup that holds what looks like tags but is none: quoted attribute values, comments,
    // raw text, RCDATA, CDATA in foreign content, bogus comments.
    const QByteArray decoys[] = {
        "<p title=\"a><div>b\">x</p>",
        "<!-- <div><div> --><!-- a -- <div> --!><!-->",
        "<script>if (a<b) document.write('<div>')</script>",
        "<script><!-- <script> </script> <div> --></script>",
        "<style>div > p { }</style>",
        "<textarea><div></textarea>",
        "<title><div></title>",
        "<svg><![CDATA[<div><div>]]></svg>",
        "<!x <div>><?php <div> ?>",
        "<xmp><div></xmp><iframe><div></iframe>",
    };
    for (const QByteArray& decoy : decoys) {
        SCOPED_TRACE(decoy.constData());
        // 600 real levels: deeper than the DOM keeps, well below what gumbo is guarded from.
        const QByteArray page = repeated("<div>" + decoy, 600);
        const HtmlDepthLimiter::Result limited = HtmlDepthLimiter::limit(page, 1024);
        EXPECT_FALSE(limited.changed);
        EXPECT_EQ(limited.html.constData(), page.constData()) << "a copy instead of the page itself";
    }

    const QDir fixtures(QStringLiteral(MOSSBRIDGE_FIXTURES_DIR "/convert"));
    const QStringList pages = fixtures.entryList({QStringLiteral("*.html")});
    ASSERT_FALSE(pages.isEmpty());
    for (const QString& name : pages) {
        QFile file(fixtures.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_FALSE(HtmlDepthLimiter::limit(file.readAll(), 64).changed) << name.toStdString();
    }
}

TEST(HtmlDepthLimit, DeepPagesKeepTheirContentInATreeCutAtTheLimit)
{
    struct Shape {
        const char* name;
        QByteArray open;
        QByteArray close;
        const char* element;   // one element of every level
    };
    const Shape shapes[] = {
        {"divs", "<div>", "</div>", "div"},
        {"lists", "<ul><li>", "</li></ul>", "li"},
        {"quotes", "<blockquote>", "</blockquote>", "blockquote"},
        {"tables", "<table><tr><td>", "</td></tr></table>", "td"},
        {"bold", "<b>", "</b>", "b"},
        {"links", "<a href=x>", "</a>", "a"},
        {"paragraphs in spans", "<span><p>", "</p></span>", "span"},
        {"svg", "<svg><g>", "</g></svg>", "g"},
        {"templates", "<template><div>", "</div></template>", "template"},
    };
    constexpr int depth = 20000;
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.name);
        const QByteArray page = "<body><p>before</p>" + repeated(shape.open, depth) + "deep text"
            + repeated(shape.close, depth) + "<p>after</p></body>";

        // (Links and paragraphs close the ones before them: those pages nest no deeper.)
        EXPECT_LE(gumboDepth(HtmlDepthLimiter::limit(page, 1024).html), 1024 + 4);

        const auto document = HtmlDocument::parse(page);
        EXPECT_LE(domDepth(document->documentElement()), HtmlDocument::maxDepth + 1);
        if (std::string(shape.name) != "templates") {
            EXPECT_EQ(document->body()->text(), QStringLiteral("before deep text after"));
            // Elements beyond the limit stay, empty.
            EXPECT_GE(document->select(QString::fromLatin1(shape.element)).size(), size_t(depth));
        }
    }
}

TEST(HtmlDepthLimit, WhatLiesBeyondTheLimitFollowsTheElementThereInOrder)
{
    QByteArray page = "<body>";
    for (int i = 1; i <= 600; ++i)
        page += "<div id=d" + QByteArray::number(i) + ">" + QByteArray::number(i) + " ";
    page += "<script>var x = 1;</script>end";
    const auto document = HtmlDocument::parse(page);

    // html, body, then the divs: d510 is at the limit and holds every deeper element.
    const HtmlNode* atLimit = document->selectFirst(QStringLiteral("#d510"));
    ASSERT_NE(atLimit, nullptr);
    const HtmlNode* deeper = document->selectFirst(QStringLiteral("#d511"));
    ASSERT_NE(deeper, nullptr);
    EXPECT_EQ(deeper->parent(), atLimit);
    EXPECT_EQ(document->selectFirst(QStringLiteral("#d600"))->parent(), atLimit);
    EXPECT_TRUE(document->selectFirst(QStringLiteral("#d600"))->childNodes().empty());
    // The text keeps its order; the script's stays in the script, where it is no text.
    QString expected;
    for (int i = 1; i <= 600; ++i)
        expected += QString::number(i) + QLatin1Char(' ');
    EXPECT_EQ(document->body()->text(), expected + QStringLiteral("end"));
    const HtmlNode* script = document->selectFirst(QStringLiteral("script"));
    ASSERT_NE(script, nullptr);
    ASSERT_EQ(script->childNodes().size(), 1u);
    EXPECT_EQ(script->childNodes()[0]->wholeText(), QStringLiteral("var x = 1;"));
}

TEST(HtmlDepthLimit, UnclosedFormattingRepeatedWithoutEndIsRefused)
{
    // Every paragraph would repeat the 500 open b elements: far more nodes than bytes.
    QByteArray page = "<p>";
    for (int i = 0; i < 500; ++i)
        page += "<b class=b" + QByteArray::number(i) + ">";
    page += "</p>" + repeated(QByteArray("<p>x</p>"), 2000);
    try {
        HtmlDocument::parse(page);
        ADD_FAILURE() << "parsed";
    } catch (const ParseError& error) {
        EXPECT_STREQ(error.what(), "The page repeats its unclosed formatting too often to be converted");
    }
    // Ordinary misnesting is fine.
    const auto document = HtmlDocument::parse(repeated(QByteArray("<p><b>bold</p>more"), 1000));
    EXPECT_EQ(document->select(QStringLiteral("p")).size(), 1000u);
}

// Tag soup of the constructs the tree builder treats specially, repeated many times: whatever
// the model of gumbo's tree builder gets wrong shows as a tree far deeper than the limit (or,
// for pages that need no limit, as a changed page).
std::string tagSoup(std::mt19937& random, int tokens)
{
    static const char* const tags[] = {"p", "div", "li", "ul", "dd", "dt", "table", "tr", "td", "th", "tbody",
        "caption", "colgroup", "col", "select", "option", "optgroup", "b", "i", "a", "nobr", "font", "em",
        "code", "svg", "math", "foreignObject", "mi", "annotation-xml", "desc", "title", "g", "script", "style",
        "textarea", "xmp", "template", "form", "button", "h1", "h2", "span", "applet", "object", "marquee",
        "ruby", "rt", "rp", "br", "hr", "img", "input", "body", "html", "head", "noscript", "iframe", "main",
        "pre", "listing", "blockquote", "address", "label", "foo", "frameset", "frame", "isindex", "noembed",
        "noframes", "menu", "summary"};
    std::uniform_int_distribution<int> pick(0, int(std::size(tags)) - 1);
    std::uniform_int_distribution<int> percent(0, 99);
    std::string page;
    for (int i = 0; i < tokens; ++i) {
        const int r = percent(random);
        const char* tag = tags[pick(random)];
        if (r < 45) {
            page += std::string("<") + tag;
            if (percent(random) < 20)
                page += " class=c" + std::to_string(percent(random) % 3);
            if (percent(random) < 5)
                page += " encoding=text/html";
            if (percent(random) < 5)
                page += " type=hidden";
            page += percent(random) < 8 ? "/>" : ">";
        } else if (r < 80) {
            page += std::string("</") + tag + ">";
        } else if (r < 92) {
            page += percent(random) < 50 ? "x" : " ";
        } else if (r < 95) {
            page += "<!--c-->";
        } else if (r < 97) {
            page += "<![CDATA[q>z]]>";
        } else {
            page += "<!DOCTYPE html>";
        }
    }
    return page;
}

TEST(HtmlDepthLimit, TagSoupStaysWithinTheLimit)
{
    std::mt19937 random(20240305);
    for (int run = 0; run < 150; ++run) {
        const std::string fragment = tagSoup(random, 30);
        SCOPED_TRACE(fragment);
        QByteArray page;
        for (int i = 0; i < 300; ++i)
            page += QByteArray::fromStdString(fragment);
        const HtmlDepthLimiter::Result limited = HtmlDepthLimiter::limit(page, 64);
        if (limited.tooRepetitive)
            continue;
        // A misnested formatting element can hang a block one level below its place in the
        // tree, but never much further.
        EXPECT_LE(gumboDepth(limited.html), 3 * 64);

        const QByteArray single = QByteArray::fromStdString(fragment);
        if (gumboDepth(single) <= 32) {
            EXPECT_FALSE(HtmlDepthLimiter::limit(single, 64).changed);
        }
    }
}

} // namespace
