#include "convert/CssSelector.h"
#include "convert/HtmlDocument.h"

#include <gtest/gtest.h>

namespace {

std::unique_ptr<HtmlDocument> parseBody(const QString& body)
{
    return HtmlDocument::parse(QStringLiteral("<!DOCTYPE html><html><head></head><body>") + body
        + QStringLiteral("</body></html>"));
}

TEST(HtmlDocument, BuildsElementsAttributesAndTextNodes)
{
    auto doc = parseBody(QStringLiteral(
        "<div ID=\"m1\" Class=\"  a\tb  c \" data-x=\"1 &amp; 2\">lead <!-- gone --><b>bold</b>"
        " tail</div><My-Widget></My-Widget>"));
    ASSERT_NE(doc->documentElement(), nullptr);
    EXPECT_EQ(doc->documentElement()->tagName(), QStringLiteral("html"));
    ASSERT_NE(doc->body(), nullptr);
    EXPECT_EQ(doc->body()->tagName(), QStringLiteral("body"));

    HtmlNode* div = doc->selectFirst(QStringLiteral("div"));
    ASSERT_NE(div, nullptr);
    EXPECT_TRUE(div->isElement());
    EXPECT_FALSE(div->isText());
    EXPECT_EQ(div->parent(), doc->body());
    EXPECT_TRUE(div->wholeText().isEmpty());

    // Names in lower case, in source order; looked up in any case; values decoded.
    const auto attrs = div->attributes();
    ASSERT_EQ(attrs.size(), 3u);
    EXPECT_EQ(attrs[0].name, QStringLiteral("id"));
    EXPECT_EQ(attrs[1].name, QStringLiteral("class"));
    EXPECT_EQ(attrs[2].name, QStringLiteral("data-x"));
    EXPECT_EQ(div->attr(QStringLiteral("ID")), QStringLiteral("m1"));
    EXPECT_EQ(div->attr(QStringLiteral("data-x")), QStringLiteral("1 & 2"));
    EXPECT_TRUE(div->hasAttr(QStringLiteral("Data-X")));
    EXPECT_FALSE(div->hasAttr(QStringLiteral("href")));
    EXPECT_EQ(div->attr(QStringLiteral("href")), QString());
    EXPECT_EQ(div->classNames(), (QStringList{"a", "b", "c"}));
    EXPECT_TRUE(doc->body()->classNames().isEmpty());

    // Child nodes in order, text included, the comment dropped.
    const auto& kids = div->childNodes();
    ASSERT_EQ(kids.size(), 3u);
    EXPECT_TRUE(kids[0]->isText());
    EXPECT_EQ(kids[0]->wholeText(), QStringLiteral("lead "));
    EXPECT_TRUE(kids[0]->tagName().isEmpty());
    EXPECT_EQ(kids[0]->parent(), div);
    EXPECT_EQ(kids[1]->tagName(), QStringLiteral("b"));
    EXPECT_EQ(kids[2]->wholeText(), QStringLiteral(" tail"));
    EXPECT_EQ(div->childElements(), (std::vector<HtmlNode*>{kids[1]}));
    EXPECT_TRUE(kids[0]->childNodes().empty());
    EXPECT_TRUE(kids[0]->select(QStringLiteral("*")).empty());

    HtmlNode* widget = doc->selectFirst(QStringLiteral("my-widget"));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->tagName(), QStringLiteral("my-widget"));
}

TEST(HtmlDocument, BuildsTheHtml5TreeFromSloppyMarkup)
{
    // No html/body tags, an unclosed paragraph, a table without tbody, foreign content.
    auto doc = HtmlDocument::parse(QByteArray(
        "<p>one<p>two<table><tr><td>c</td></tr></table>"
        "<svg viewBox=\"0 0 1 1\"><foreignObject></foreignObject></svg>"));
    ASSERT_NE(doc->body(), nullptr);
    EXPECT_EQ(doc->select(QStringLiteral("body > p")).size(), 2u);
    EXPECT_EQ(doc->select(QStringLiteral("table > tbody > tr > td")).size(), 1u);
    HtmlNode* svg = doc->selectFirst(QStringLiteral("svg"));
    ASSERT_NE(svg, nullptr);
    EXPECT_EQ(svg->attr(QStringLiteral("viewBox")), QStringLiteral("0 0 1 1"));
    EXPECT_EQ(doc->select(QStringLiteral("FOREIGNOBJECT")).size(), 1u);
}

TEST(HtmlDocument, TextNodesKeepTheirWholeText)
{
    auto doc = parseBody(QStringLiteral("<pre>  a \n\n b\t </pre><p>x&nbsp;&lt;y&gt;  </p><p>héllo ✓ 😀</p>"));
    const auto ps = doc->select(QStringLiteral("pre, p"));
    ASSERT_EQ(ps.size(), 3u);
    EXPECT_EQ(ps[0]->childNodes().at(0)->wholeText(), QStringLiteral("  a \n\n b\t "));
    EXPECT_EQ(ps[1]->childNodes().at(0)->wholeText(), QString::fromUtf8("x\u00a0<y>  "));
    EXPECT_EQ(ps[2]->childNodes().at(0)->wholeText(), QString::fromUtf8("héllo ✓ 😀"));
    // A text node's own text() is normalised like an element's.
    EXPECT_EQ(ps[0]->childNodes().at(0)->text(), QStringLiteral("a b"));
}

TEST(HtmlDocument, LongTextsAndValuesComeBackWhole)
{
    // Texts and values share large blocks of memory: ones longer than a block, and ones that
    // end a block, must come back whole and unmixed, outside ASCII too.
    const QString pattern = QString::fromUtf8("ab\u00e9\U0001F600 <&>");
    const auto textOf = [&pattern](qsizetype size, int seed) {
        QString text;
        text.reserve(size);
        for (qsizetype i = seed % 3; text.size() < size; ++i)   // starting at "a", "b" or "é"
            text += pattern.at(i % pattern.size());
        text.truncate(size);
        if (!text.isEmpty() && text.back().isHighSurrogate())
            text.chop(1);   // no lone half of a surrogate pair
        return text;
    };
    const std::vector<qsizetype> sizes = {1, 700 * 1024, 3, 512 * 1024 - 1, 512 * 1024, 512 * 1024 + 1, 17,
        1024 * 1024 + 7, 2};
    QString html;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        html += QStringLiteral("<p title=\"") + textOf(sizes[i] / 3 + 1, int(i)).toHtmlEscaped() + QStringLiteral("\">")
            + textOf(sizes[i], int(i)).toHtmlEscaped() + QStringLiteral("</p>");
    }
    auto doc = parseBody(html);
    const auto ps = doc->select(QStringLiteral("p"));
    ASSERT_EQ(ps.size(), sizes.size());
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        ASSERT_EQ(ps[i]->childNodes().size(), 1u) << i;
        EXPECT_TRUE(ps[i]->childNodes()[0]->wholeText() == textOf(sizes[i], int(i))) << i;
        EXPECT_TRUE(ps[i]->attr(QStringLiteral("title")) == textOf(sizes[i] / 3 + 1, int(i))) << i;
    }
}

TEST(HtmlDocument, NormalisedText)
{
    struct Case {
        const char* html;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {"<p>a  b\n\t c</p>", "a b c"},
        {"<p>  lead and tail  </p>", "lead and tail"},
        {"<p> </p>", ""},
        {"<div>one<br>two</div>", "one two"},
        {"<div>one<br><br>  <br>two</div>", "one two"},
        {"<div><p>a</p><p>b</p></div>", "a b"},
        {"<div>a<div>b</div>c</div>", "a b c"},
        {"<div><h1>T</h1>text<blockquote>q</blockquote>end</div>", "T text q end"},
        {"<div><ul><li>x</li><li>y</li></ul><ol><li>z</li></ol></div>", "x y z"},
        {"<div><table><tr><th>h</th></tr><tr><td>1</td><td>2</td></tr></table></div>", "h 1 2"},
        {"<div><section>s</section><article>a</article><header>h</header><footer>f</footer></div>",
            "s a h f"},
        {"<div><pre>code\n  line</pre></div>", "code line"},
        {"<p>a<b>b</b><i>c</i> <span>d</span></p>", "abc d"},
        {"<p>x&nbsp;&nbsp;y\u2003z\u3000</p>", "x y z"},
        {"<div>a<script>var x = 1;</script><style>p { }</style>b</div>", "ab"},
    };
    for (const Case& c : cases) {
        auto doc = parseBody(QString::fromUtf8(c.html));
        HtmlNode* first = doc->body()->childElements().at(0);
        EXPECT_EQ(first->text(), QString::fromUtf8(c.expected)) << c.html;
    }
}

TEST(HtmlDocument, RemovedNodesLeaveTheTreeButStayUsable)
{
    auto doc = parseBody(QStringLiteral(
        "<div id=keep><aside class=bar><p>menu</p></aside>text<p id=x>body</p>"
        "<aside class=bar>two</aside></div><aside class=bar>three</aside>"));
    HtmlNode* keep = doc->selectFirst(QStringLiteral("#keep"));
    HtmlNode* x = doc->selectFirst(QStringLiteral("#x"));
    ASSERT_TRUE(keep && x);

    x->remove();
    EXPECT_EQ(x->parent(), nullptr);
    EXPECT_EQ(doc->selectFirst(QStringLiteral("#x")), nullptr);
    EXPECT_EQ(x->text(), QStringLiteral("body"));   // still alive
    EXPECT_EQ(x->select(QStringLiteral("p")), (std::vector<HtmlNode*>{x}));
    x->remove();   // a second removal does nothing

    // A selection holding an element and its own descendant, spread over two parents.
    const auto bars = doc->select(QStringLiteral(".bar, .bar p"));
    ASSERT_EQ(bars.size(), 4u);
    HtmlDocument::remove(bars);
    EXPECT_TRUE(doc->select(QStringLiteral("aside")).empty());
    EXPECT_EQ(doc->body()->text(), QStringLiteral("text"));
    ASSERT_EQ(keep->childNodes().size(), 1u);
    EXPECT_EQ(keep->childNodes()[0]->wholeText(), QStringLiteral("text"));
    // Every member is detached, the paragraph from its removed aside too.
    for (HtmlNode* b : bars)
        EXPECT_EQ(b->parent(), nullptr);
    EXPECT_TRUE(bars[0]->childNodes().empty());
    EXPECT_EQ(bars[1]->text(), QStringLiteral("menu"));

    doc->body()->remove();
    EXPECT_EQ(doc->body(), nullptr);
    EXPECT_TRUE(doc->select(QStringLiteral("div")).empty());
}

TEST(HtmlDocument, DeepNestingNeedsNoDeepStack)
{
    constexpr int depth = 10000;
    QByteArray html = "<body>";
    for (int i = 0; i < depth; ++i)
        html += "<div class=\"d\">";
    html += "<span>x</span>";
    for (int i = 0; i < depth; ++i)
        html += "</div>";
    html += "</body>";

    auto doc = HtmlDocument::parse(html);
    EXPECT_EQ(doc->select(QStringLiteral("div")).size(), size_t(depth));
    EXPECT_EQ(doc->select(QStringLiteral("div > span")).size(), 1u);
    EXPECT_EQ(doc->select(QStringLiteral("body div.d div span")).size(), 1u);
    EXPECT_EQ(doc->body()->text(), QStringLiteral("x"));
    HtmlNode* span = doc->selectFirst(QStringLiteral("span"));
    ASSERT_NE(span, nullptr);
    int ancestors = 0;
    for (HtmlNode* p = span->parent(); p; p = p->parent())
        ++ancestors;
    // The tree stops nesting at its limit: the span hangs on the element at the limit.
    EXPECT_EQ(ancestors, HtmlDocument::maxDepth);
    doc.reset();   // destruction walks no recursion either
}

} // namespace
