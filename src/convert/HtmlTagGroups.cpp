#include "convert/HtmlTagGroups.h"

#include "convert/HtmlOpenElementStack.h"
#include "convert/HtmlTagScanner.h"

#include <array>

namespace {

using Stack = HtmlOpenElementStack;
using Groups = HtmlTagGroups;

std::array<std::uint16_t, GUMBO_TAG_LAST + 1> makeHtmlGroups()
{
    std::array<std::uint16_t, GUMBO_TAG_LAST + 1> groups {};
    for (auto& g : groups)
        g = Stack::HtmlElement;
    auto add = [&](std::uint16_t group, std::initializer_list<GumboTag> tags) {
        for (GumboTag tag : tags)
            groups[tag] |= group;
    };
    // The special elements as gumbo 0.10.1 has them: those of the rules of its time (main is
    // not one of them).
    add(Stack::Special,
        {GUMBO_TAG_ADDRESS, GUMBO_TAG_APPLET, GUMBO_TAG_AREA, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE, GUMBO_TAG_BASE,
            GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BODY, GUMBO_TAG_BR,
            GUMBO_TAG_BUTTON, GUMBO_TAG_CAPTION, GUMBO_TAG_CENTER, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_DD,
            GUMBO_TAG_DETAILS, GUMBO_TAG_DIR, GUMBO_TAG_DIV, GUMBO_TAG_DL, GUMBO_TAG_DT, GUMBO_TAG_EMBED,
            GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE, GUMBO_TAG_FOOTER, GUMBO_TAG_FORM,
            GUMBO_TAG_FRAME, GUMBO_TAG_FRAMESET, GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4,
            GUMBO_TAG_H5, GUMBO_TAG_H6, GUMBO_TAG_HEAD, GUMBO_TAG_HEADER, GUMBO_TAG_HGROUP, GUMBO_TAG_HR,
            GUMBO_TAG_HTML, GUMBO_TAG_IFRAME, GUMBO_TAG_IMG, GUMBO_TAG_INPUT, GUMBO_TAG_ISINDEX, GUMBO_TAG_KEYGEN,
            GUMBO_TAG_LI, GUMBO_TAG_LINK, GUMBO_TAG_LISTING, GUMBO_TAG_MARQUEE, GUMBO_TAG_MENU,
            GUMBO_TAG_META, GUMBO_TAG_NAV, GUMBO_TAG_NOEMBED, GUMBO_TAG_NOFRAMES,
            GUMBO_TAG_NOSCRIPT, GUMBO_TAG_OBJECT, GUMBO_TAG_OL, GUMBO_TAG_P, GUMBO_TAG_PARAM, GUMBO_TAG_PLAINTEXT,
            GUMBO_TAG_PRE, GUMBO_TAG_SCRIPT, GUMBO_TAG_SECTION, GUMBO_TAG_SELECT, GUMBO_TAG_SOURCE,
            GUMBO_TAG_STYLE, GUMBO_TAG_SUMMARY, GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TD, GUMBO_TAG_TEMPLATE,
            GUMBO_TAG_TEXTAREA, GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TITLE, GUMBO_TAG_TR,
            GUMBO_TAG_TRACK, GUMBO_TAG_UL, GUMBO_TAG_WBR, GUMBO_TAG_XMP});
    for (int tag = 0; tag <= GUMBO_TAG_LAST; ++tag) {
        if ((groups[tag] & Stack::Special)
            && !Groups::isOneOf(GumboTag(tag), {GUMBO_TAG_ADDRESS, GUMBO_TAG_DIV, GUMBO_TAG_P}))
            groups[tag] |= Stack::SpecialBlock;
    }
    add(Stack::ScopeBoundary,
        {GUMBO_TAG_APPLET, GUMBO_TAG_CAPTION, GUMBO_TAG_HTML, GUMBO_TAG_TABLE, GUMBO_TAG_TD, GUMBO_TAG_TH,
            GUMBO_TAG_MARQUEE, GUMBO_TAG_OBJECT, GUMBO_TAG_TEMPLATE});
    add(Stack::ListScopeBoundary, {GUMBO_TAG_OL, GUMBO_TAG_UL});
    add(Stack::ButtonScopeBoundary, {GUMBO_TAG_BUTTON});
    add(Stack::TableScopeBoundary, {GUMBO_TAG_HTML, GUMBO_TAG_TABLE, GUMBO_TAG_TEMPLATE});
    add(Stack::Heading, {GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5, GUMBO_TAG_H6});
    add(Stack::ModeElement,
        {GUMBO_TAG_SELECT, GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_TR, GUMBO_TAG_TBODY, GUMBO_TAG_THEAD,
            GUMBO_TAG_TFOOT, GUMBO_TAG_CAPTION, GUMBO_TAG_COLGROUP, GUMBO_TAG_TABLE, GUMBO_TAG_TEMPLATE});
    return groups;
}

// The rule groups, looked up once per tag rather than searched in lists on every token.
enum Rule : std::uint8_t {
    Heading = 1 << 0,
    Formatting = 1 << 1,
    ClosesParagraph = 1 << 2,
    BlockEndTag = 1 << 3,
    Void = 1 << 4,
    TablePart = 1 << 5,
};

std::array<std::uint8_t, GUMBO_TAG_LAST + 1> makeRules()
{
    std::array<std::uint8_t, GUMBO_TAG_LAST + 1> rules {};
    auto add = [&](std::uint8_t rule, std::initializer_list<GumboTag> tags) {
        for (GumboTag tag : tags)
            rules[tag] |= rule;
    };
    add(Heading,
        {GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5, GUMBO_TAG_H6});
    add(Formatting,
        {GUMBO_TAG_A, GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_CODE, GUMBO_TAG_EM, GUMBO_TAG_FONT,
            GUMBO_TAG_I, GUMBO_TAG_NOBR, GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_STRIKE,
            GUMBO_TAG_STRONG, GUMBO_TAG_TT, GUMBO_TAG_U});
    add(ClosesParagraph,
        {GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE, GUMBO_TAG_BLOCKQUOTE,
            GUMBO_TAG_CENTER, GUMBO_TAG_DETAILS, GUMBO_TAG_DIR, GUMBO_TAG_DIV, GUMBO_TAG_DL,
            GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE, GUMBO_TAG_FOOTER,
            GUMBO_TAG_HEADER, GUMBO_TAG_HGROUP, GUMBO_TAG_MAIN, GUMBO_TAG_MENU, GUMBO_TAG_NAV,
            GUMBO_TAG_OL, GUMBO_TAG_P, GUMBO_TAG_SECTION, GUMBO_TAG_SUMMARY, GUMBO_TAG_UL});
    add(BlockEndTag,
        {GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE, GUMBO_TAG_BLOCKQUOTE,
            GUMBO_TAG_BUTTON, GUMBO_TAG_CENTER, GUMBO_TAG_DETAILS, GUMBO_TAG_DIR, GUMBO_TAG_DIV,
            GUMBO_TAG_DL, GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,
            GUMBO_TAG_FOOTER, GUMBO_TAG_HEADER, GUMBO_TAG_HGROUP, GUMBO_TAG_LISTING,
            GUMBO_TAG_MAIN, GUMBO_TAG_MENU, GUMBO_TAG_NAV, GUMBO_TAG_OL, GUMBO_TAG_PRE,
            GUMBO_TAG_SECTION, GUMBO_TAG_SUMMARY, GUMBO_TAG_UL});
    add(Void,
        {GUMBO_TAG_AREA, GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_BR,
            GUMBO_TAG_COL, GUMBO_TAG_EMBED, GUMBO_TAG_FRAME, GUMBO_TAG_HR, GUMBO_TAG_IMAGE,
            GUMBO_TAG_IMG, GUMBO_TAG_INPUT, GUMBO_TAG_ISINDEX, GUMBO_TAG_KEYGEN, GUMBO_TAG_LINK,
            GUMBO_TAG_MENUITEM, GUMBO_TAG_META, GUMBO_TAG_PARAM, GUMBO_TAG_SOURCE,
            GUMBO_TAG_TRACK, GUMBO_TAG_WBR});
    add(TablePart,
        {GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY, GUMBO_TAG_TD,
            GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TR});
    return rules;
}

std::uint8_t ruleOf(GumboTag tag)
{
    static const auto rules = makeRules();
    return rules[tag];
}

} // namespace

bool HtmlTagGroups::isOneOf(GumboTag tag, std::initializer_list<GumboTag> tags)
{
    for (GumboTag t : tags) {
        if (t == tag)
            return true;
    }
    return false;
}

bool HtmlTagGroups::isHeading(GumboTag tag)
{
    return ruleOf(tag) & Heading;
}

bool HtmlTagGroups::isFormatting(GumboTag tag)
{
    return ruleOf(tag) & Formatting;
}

bool HtmlTagGroups::closesParagraph(GumboTag tag)
{
    return ruleOf(tag) & ClosesParagraph;
}

bool HtmlTagGroups::isBlockEndTag(GumboTag tag)
{
    return ruleOf(tag) & BlockEndTag;
}

bool HtmlTagGroups::isVoid(GumboTag tag)
{
    return ruleOf(tag) & Void;
}

bool HtmlTagGroups::isHiddenInput(const HtmlTagToken& token)
{
    return HtmlTagScanner::equalsIgnoringCase(HtmlTagScanner::attribute(token.attributes, "type"), "hidden");
}

bool HtmlTagGroups::isTablePart(GumboTag tag)
{
    return ruleOf(tag) & TablePart;
}

bool HtmlTagGroups::breaksOutOfForeignContent(const HtmlTagToken& token)
{
    if (token.tag == GUMBO_TAG_FONT) {
        bool color = false;
        bool face = false;
        bool size = false;
        HtmlTagScanner::attribute(token.attributes, "color", &color);
        HtmlTagScanner::attribute(token.attributes, "face", &face);
        HtmlTagScanner::attribute(token.attributes, "size", &size);
        return color || face || size;
    }
    return isHeading(token.tag)
        || isOneOf(token.tag, {GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_BLOCKQUOTE, GUMBO_TAG_BODY, GUMBO_TAG_BR,
                                  GUMBO_TAG_CENTER, GUMBO_TAG_CODE, GUMBO_TAG_DD, GUMBO_TAG_DIV, GUMBO_TAG_DL,
                                  GUMBO_TAG_DT, GUMBO_TAG_EM, GUMBO_TAG_EMBED, GUMBO_TAG_HEAD, GUMBO_TAG_HR,
                                  GUMBO_TAG_I, GUMBO_TAG_IMG, GUMBO_TAG_LI, GUMBO_TAG_LISTING, GUMBO_TAG_MENU,
                                  GUMBO_TAG_META, GUMBO_TAG_NOBR, GUMBO_TAG_OL, GUMBO_TAG_P, GUMBO_TAG_PRE,
                                  GUMBO_TAG_RUBY, GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_SPAN, GUMBO_TAG_STRONG,
                                  GUMBO_TAG_STRIKE, GUMBO_TAG_SUB, GUMBO_TAG_SUP, GUMBO_TAG_TABLE, GUMBO_TAG_TT,
                                  GUMBO_TAG_U, GUMBO_TAG_UL, GUMBO_TAG_VAR});
}

bool HtmlTagGroups::endsFramesetOk(const HtmlTagToken& token)
{
    return isOneOf(token.tag, {GUMBO_TAG_PRE, GUMBO_TAG_LISTING, GUMBO_TAG_LI, GUMBO_TAG_DD, GUMBO_TAG_DT,
                                  GUMBO_TAG_BUTTON, GUMBO_TAG_APPLET, GUMBO_TAG_MARQUEE, GUMBO_TAG_OBJECT,
                                  GUMBO_TAG_TABLE, GUMBO_TAG_AREA, GUMBO_TAG_BR, GUMBO_TAG_EMBED, GUMBO_TAG_IMG,
                                  GUMBO_TAG_KEYGEN, GUMBO_TAG_WBR, GUMBO_TAG_HR, GUMBO_TAG_TEXTAREA, GUMBO_TAG_XMP,
                                  GUMBO_TAG_IFRAME, GUMBO_TAG_SELECT, GUMBO_TAG_IMAGE, GUMBO_TAG_ISINDEX,
                                  GUMBO_TAG_BODY})
        || (token.tag == GUMBO_TAG_INPUT && !isHiddenInput(token));
}

std::uint16_t HtmlTagGroups::htmlGroups(GumboTag tag)
{
    static const auto groups = makeHtmlGroups();
    return groups[tag];
}
