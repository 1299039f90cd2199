#include "convert/CssSelector.h"
#include "convert/HtmlDocument.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

// Every element a selector can be told apart on: nesting for both combinators, class lists,
// language codes, word lists, links, and attributes with empty values.
const char* const kPage = R"(<!DOCTYPE html><html><head><title>t</title></head><body>
<div id="root" class="ChatMessagesView_tupleGroupContainer__x1 group">
  <p id="p1" class="intro lead" lang="en-US" data-x="a b">One</p>
  <section id="s1" title="Hello World">
    <p id="p2" class="lead">Two</p>
    <div id="d2"><span id="sp1" data-message-id="42">x</span></div>
  </section>
  <a id="a1" href="https://cdn.example/file.pdf" rel="nofollow noopener">f</a>
  <a id="a2" href="/relative" REL="">g</a>
</div>
<my-widget id="w1" Data-Kind="Big"></my-widget>
</body></html>)";

// "tag#id" of each element, in order.
QString describe(const std::vector<HtmlNode*>& nodes)
{
    QStringList parts;
    for (const HtmlNode* n : nodes)
        parts << (n->hasAttr(QStringLiteral("id")) ? n->tagName() + u'#' + n->attr(QStringLiteral("id"))
                                                    : n->tagName());
    return parts.join(u' ');
}

struct MatchCase {
    const char* selector;
    const char* expected;
};

class SelectorMatch : public ::testing::TestWithParam<MatchCase> {
protected:
    static void SetUpTestSuite() { doc = HtmlDocument::parse(QByteArray(kPage)).release(); }
    static void TearDownTestSuite()
    {
        delete doc;
        doc = nullptr;
    }
    static HtmlDocument* doc;
};
HtmlDocument* SelectorMatch::doc = nullptr;

TEST_P(SelectorMatch, SelectsInDocumentOrder)
{
    const MatchCase& c = GetParam();
    const CssSelector selector(QString::fromUtf8(c.selector));
    EXPECT_EQ(describe(doc->select(selector)), QString::fromUtf8(c.expected)) << c.selector;
    // matches() agrees with select() element by element.
    const std::vector<HtmlNode*> found = doc->select(selector);
    for (HtmlNode* n : doc->select(QStringLiteral("*"))) {
        const bool selected = std::find(found.begin(), found.end(), n) != found.end();
        EXPECT_EQ(selector.matches(*n), selected) << c.selector << " on " << n->tagName().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, SelectorMatch, ::testing::Values(
    // type and universal
    MatchCase{"p", "p#p1 p#p2"},
    MatchCase{"P", "p#p1 p#p2"},
    MatchCase{"MY-WIDGET", "my-widget#w1"},
    MatchCase{"section *", "p#p2 div#d2 span#sp1"},
    MatchCase{"table", ""},
    // id and class
    MatchCase{"#p2", "p#p2"},
    MatchCase{"p#p2", "p#p2"},
    MatchCase{"div#p2", ""},
    MatchCase{"#p\\31", "p#p1"},
    MatchCase{".lead", "p#p1 p#p2"},
    MatchCase{".intro.lead", "p#p1"},
    MatchCase{".lea", ""},
    MatchCase{".LEAD", ""},
    // attribute presence: names in any case
    MatchCase{"[data-message-id]", "span#sp1"},
    MatchCase{"[DATA-MESSAGE-ID]", "span#sp1"},
    MatchCase{"[data-kind]", "my-widget#w1"},
    MatchCase{"a[rel]", "a#a1 a#a2"},
    // = with every form of value; values compare case-sensitively
    MatchCase{"[lang=en-US]", "p#p1"},
    MatchCase{"[lang='en-US']", "p#p1"},
    MatchCase{"[lang=\"en-US\"]", "p#p1"},
    MatchCase{"[lang='en-us']", ""},
    MatchCase{"[ title = 'Hello World' ]", "section#s1"},
    MatchCase{"[data-kind=Big]", "my-widget#w1"},
    MatchCase{"[rel='']", "a#a2"},
    // ~= and |=
    MatchCase{"[rel~=noopener]", "a#a1"},
    MatchCase{"[rel~=noop]", ""},
    MatchCase{"[data-x~='a b']", ""},
    MatchCase{"[rel~='']", ""},
    MatchCase{"[lang|=en]", "p#p1"},
    MatchCase{"[lang|=en-US]", "p#p1"},
    MatchCase{"[lang|=en-U]", ""},
    // ^= $= *=, and their empty forms that match nothing
    MatchCase{"[href^='https']", "a#a1"},
    MatchCase{"[href$=\".pdf\"]", "a#a1"},
    MatchCase{"[href*=example]", "a#a1"},
    MatchCase{"[href*=EXAMPLE]", ""},
    MatchCase{"[class*='ChatMessagesView_tupleGroupContainer']", "div#root"},
    MatchCase{"div[class^='ChatMessagesView_tupleGroupContainer']", "div#root"},
    MatchCase{"div[class^='group']", ""},
    MatchCase{"[rel^='']", ""},
    MatchCase{"[rel$=\"\"]", ""},
    MatchCase{"[rel*='']", ""},
    // combinators
    MatchCase{"section p", "p#p2"},
    MatchCase{"section\n\tp", "p#p2"},
    MatchCase{"div p", "p#p1 p#p2"},
    MatchCase{"div > p", "p#p1"},
    MatchCase{"div>p", "p#p1"},
    MatchCase{"body > div", "div#root"},
    MatchCase{"section > div > span", "span#sp1"},
    MatchCase{"section > span", ""},
    MatchCase{"div span", "span#sp1"},
    MatchCase{"#root > section p.lead", "p#p2"},
    MatchCase{"html div > section div span", "span#sp1"},
    // groups: document order, each element once
    MatchCase{"span, p", "p#p1 p#p2 span#sp1"},
    MatchCase{"p, .lead, #p1", "p#p1 p#p2"},
    MatchCase{"[class*='ChatMessage_chatMessage'], [data-message-id], div[id^='message-']",
        "span#sp1"}));

TEST(SelectorScope, SelectionOnAnElementIncludesItAndIgnoresOuterAncestors)
{
    auto doc = HtmlDocument::parse(QByteArray(kPage));
    HtmlNode* root = doc->selectFirst(QStringLiteral("#root"));
    HtmlNode* section = doc->selectFirst(QStringLiteral("#s1"));
    ASSERT_TRUE(root && section);

    EXPECT_EQ(describe(root->select(QStringLiteral("div"))), QStringLiteral("div#root div#d2"));
    EXPECT_EQ(root->selectFirst(QStringLiteral(".group")), root);
    EXPECT_EQ(describe(section->select(QStringLiteral("section p"))), QStringLiteral("p#p2"));
    EXPECT_EQ(describe(section->select(QStringLiteral("section > div > span"))),
        QStringLiteral("span#sp1"));
    // The ancestors above the element selected on take no part.
    EXPECT_EQ(describe(section->select(QStringLiteral("#root p"))), QString());
    EXPECT_EQ(describe(section->select(QStringLiteral("div span"))), QStringLiteral("span#sp1"));
    EXPECT_EQ(section->selectFirst(QStringLiteral("body section")), nullptr);
    EXPECT_EQ(section->selectFirst(QStringLiteral("table")), nullptr);
    // The selector alone, away from any selection, sees the whole tree.
    EXPECT_TRUE(CssSelector(QStringLiteral("#root p")).matches(*section->selectFirst(QStringLiteral("p"))));
}

TEST(SelectorParse, MalformedSelectorsThrowWithTheReason)
{
    struct Bad {
        const char* selector;
        const char* reason;
    };
    const std::vector<Bad> cases = {
        {"", "empty"},
        {"   ", "empty"},
        {"div[", "unclosed '['"},
        {"div[class", "unclosed '['"},
        {"[class='x]", "unclosed quote"},
        {"[class=\"x]", "unclosed quote"},
        {"[class='x'", "unclosed '['"},
        {"div]", "unbalanced ']'"},
        {"p,", "empty member"},
        {",p", "unexpected ','"},
        {"p,,a", "empty member"},
        {"p, ,a", "empty member"},
        {"p >", "without a selector after"},
        {"p > ,a", "without a selector after"},
        {"> p", "without a selector before"},
        {"p > > a", "two combinators"},
        {"p + a", "unsupported combinator '+'"},
        {"p ~ a", "unsupported combinator '~'"},
        {"p:first-child", "unsupported pseudo-class ':first-child'"},
        {"a::before", "unsupported pseudo-class"},
        {"[class^]", "unknown attribute operator '^'"},
        {"[class!=x]", "unknown attribute operator '!'"},
        {"[=x]", "expected an attribute name"},
        {"[class=]", "expected an attribute value"},
        {"[a='x' i]", "expected ']'"},
        {"#", "expected an id"},
        {"p.", "expected a class name"},
        {"p \"x\"", "quoted string"},
        {"p*", "unexpected '*'"},
        {"div\\", "backslash at the end"},
    };
    for (const Bad& c : cases) {
        try {
            CssSelector selector(QString::fromUtf8(c.selector));
            ADD_FAILURE() << "accepted: " << c.selector;
        } catch (const SelectorError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(c.reason), std::string::npos) << c.selector << " -> " << what;
            EXPECT_NE(what.find("position"), std::string::npos) << what;
        }
    }
    // The string forms of select parse the same way.
    auto doc = HtmlDocument::parse(QByteArray(kPage));
    EXPECT_THROW(doc->select(QStringLiteral("p:hover")), SelectorError);
    EXPECT_THROW(doc->body()->selectFirst(QStringLiteral("div[")), SelectorError);
}

TEST(SelectorParse, KeepsTheTextAndSurvivesAMove)
{
    CssSelector a(QStringLiteral("div > p.x"));
    CssSelector b(std::move(a));
    EXPECT_EQ(b.text(), QStringLiteral("div > p.x"));
    auto doc = HtmlDocument::parse(QByteArray("<div><p class=x>1</p></div>"));
    EXPECT_EQ(doc->select(b).size(), 1u);
}

} // namespace
