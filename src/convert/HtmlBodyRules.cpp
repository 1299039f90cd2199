#include "convert/HtmlBodyRules.h"

#include "convert/HtmlTagGroups.h"

namespace {

using Stack = HtmlOpenElementStack;
using Groups = HtmlTagGroups;
using Mode = HtmlTreeBuilderState::Mode;
using Head = HtmlTreeBuilderState::Head;
using Namespace = HtmlTreeBuilderState::Namespace;
using Scope = HtmlTreeBuilderState::Scope;

} // namespace

HtmlBodyRules::HtmlBodyRules(HtmlTreeBuilderState& state)
    : s_(state)
{
}

bool HtmlBodyRules::startTagInHead(const HtmlTagToken& token)
{
    using TextMode = HtmlTagScanner::TextMode;
    const GumboTag tag = token.tag;
    if (s_.head == Head::InNoscript) {
        if (Groups::isOneOf(tag, {GUMBO_TAG_LINK, GUMBO_TAG_META, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_HEAD,
                             GUMBO_TAG_NOSCRIPT, GUMBO_TAG_HTML}))
            return true;
        if (tag == GUMBO_TAG_NOFRAMES || tag == GUMBO_TAG_STYLE) {
            s_.textMode = TextMode::RawText;
            return true;
        }
        s_.stack.pop();   // anything else ends the noscript and is read again in the head
        s_.head = Head::In;
    }
    switch (tag) {
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_BASE:
    case GUMBO_TAG_BASEFONT:
    case GUMBO_TAG_BGSOUND:
    case GUMBO_TAG_LINK:
    case GUMBO_TAG_META:
        return true;
    case GUMBO_TAG_TITLE:
        s_.textMode = TextMode::RcData;
        return true;
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_STYLE:
        s_.textMode = TextMode::RawText;
        return true;
    case GUMBO_TAG_SCRIPT:
        s_.textMode = TextMode::ScriptData;
        return true;
    case GUMBO_TAG_TEMPLATE:
        startTag(token);
        return true;
    case GUMBO_TAG_NOSCRIPT:
        if (s_.head != Head::In)
            break;
        s_.insertHtml(tag, token.name, true);
        s_.head = Head::InNoscript;
        return true;
    case GUMBO_TAG_BODY:
        s_.head = Head::Over;
        s_.framesetOk = false;
        return true;
    default:
        break;
    }
    s_.head = Head::Over;
    return false;
}

bool HtmlBodyRules::endTagInHead(const HtmlTagToken& token)
{
    if (s_.head == Head::InNoscript) {
        if (token.tag != GUMBO_TAG_NOSCRIPT && token.tag != GUMBO_TAG_BR)
            return true;
        s_.stack.pop();
        s_.head = Head::In;
        if (token.tag == GUMBO_TAG_NOSCRIPT)
            return true;
    }
    switch (token.tag) {
    case GUMBO_TAG_HEAD:
        if (s_.head == Head::In)
            s_.head = Head::After;
        return true;
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BR:
        s_.head = Head::Over;
        return false;
    default:
        return true;
    }
}

void HtmlBodyRules::startTag(const HtmlTagToken& token)
{
    using TextMode = HtmlTagScanner::TextMode;
    const GumboTag tag = token.tag;
    if (Groups::endsFramesetOk(token))
        s_.framesetOk = false;
    if (tag == GUMBO_TAG_FRAMESET) {
        // Before any content, a frameset replaces the body.
        if (s_.framesetOk && s_.stack.size() >= 2 && s_.stack.at(1).tag == GUMBO_TAG_BODY
            && s_.stack.topmost(GUMBO_TAG_TEMPLATE) == Stack::none) {
            s_.stack.popFrom(1);
            s_.insertHtml(tag, token.name, true);
            s_.inFrameset = true;
        }
        return;
    }
    const auto insert = [&] { s_.insertHtml(tag, token.name, true); };
    if (Groups::isVoid(tag)) {
        // isindex stands for a small form (closed again right away) when no form is open.
        if (tag == GUMBO_TAG_HR || (tag == GUMBO_TAG_ISINDEX && !s_.form))
            s_.closePInButtonScope();
        else if (!Groups::isOneOf(tag, {GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_LINK,
                                   GUMBO_TAG_META, GUMBO_TAG_PARAM, GUMBO_TAG_SOURCE, GUMBO_TAG_TRACK,
                                   GUMBO_TAG_FRAME, GUMBO_TAG_COL}))
            s_.reconstructFormatting();
        return;
    }
    if (Groups::closesParagraph(tag)) {
        s_.closePInButtonScope();
        insert();
        return;
    }
    if (Groups::isHeading(tag)) {
        s_.closePInButtonScope();
        if (s_.stack.current().ns == Namespace::Html && Groups::isHeading(s_.stack.current().tag))
            s_.stack.pop();
        insert();
        return;
    }
    if (Groups::isFormatting(tag)) {
        if (tag == GUMBO_TAG_A)
            s_.formatting.closeOpenAnchor();
        s_.reconstructFormatting();
        if (tag == GUMBO_TAG_NOBR && s_.stack.tagInScope(GUMBO_TAG_NOBR, Scope::Default)) {
            s_.formatting.adoptionAgency(token.tag);
            s_.reconstructFormatting();
        }
        s_.insertFormatting(token);
        return;
    }
    switch (tag) {
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_HEAD:
        return;
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
        s_.textMode = TextMode::RawText;
        return;
    case GUMBO_TAG_XMP:
        s_.closePInButtonScope();
        s_.reconstructFormatting();
        s_.textMode = TextMode::RawText;
        return;
    case GUMBO_TAG_SCRIPT:
        s_.textMode = TextMode::ScriptData;
        return;
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_TEXTAREA:
        s_.textMode = TextMode::RcData;
        return;
    case GUMBO_TAG_PLAINTEXT:
        s_.closePInButtonScope();
        s_.textMode = TextMode::PlainText;
        return;
    case GUMBO_TAG_TEMPLATE:
        insert();
        s_.stack.at(s_.stack.size() - 1).contentMode = std::uint8_t(Mode::Template);
        s_.formatting.pushMarker();
        return;
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_LISTING:
        s_.closePInButtonScope();
        insert();
        return;
    case GUMBO_TAG_FORM:
        if (s_.form && s_.stack.topmost(GUMBO_TAG_TEMPLATE) == Stack::none)
            return;
        s_.closePInButtonScope();
        insert();
        if (s_.stack.topmost(GUMBO_TAG_TEMPLATE) == Stack::none)
            s_.form = s_.stack.current().id;
        return;
    case GUMBO_TAG_LI:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT: {
        // An open item closes first, unless a block other than address, div or p lies between.
        const int open = tag == GUMBO_TAG_LI ? s_.stack.topmost(GUMBO_TAG_LI) : s_.stack.topmostOf({GUMBO_TAG_DD, GUMBO_TAG_DT});
        if (open != Stack::none && open >= s_.stack.topmostIn(Stack::SpecialBlock))
            s_.stack.popFrom(open);
        s_.closePInButtonScope();
        insert();
        return;
    }
    case GUMBO_TAG_BUTTON:
        if (s_.stack.tagInScope(GUMBO_TAG_BUTTON, Scope::Default))
            s_.stack.popUntilTag(GUMBO_TAG_BUTTON);
        s_.reconstructFormatting();
        insert();
        return;
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_MARQUEE:
    case GUMBO_TAG_OBJECT:
        s_.reconstructFormatting();
        insert();
        s_.formatting.pushMarker();
        return;
    case GUMBO_TAG_TABLE:
        // In quirks mode (pages without a doctype) a table opens inside an open p.
        if (!s_.quirks)
            s_.closePInButtonScope();
        insert();
        return;
    case GUMBO_TAG_SELECT: {
        // gumbo reads a select opened in any table mode as one in a table (a cell in a
        // template included).
        const Mode m = s_.mode();
        const bool inTable = m == Mode::Table || m == Mode::TableBody || m == Mode::Row || m == Mode::Cell
            || m == Mode::Caption;
        s_.reconstructFormatting();
        insert();
        s_.stack.at(s_.stack.size() - 1).contentMode = std::uint8_t(inTable ? Mode::SelectInTable : Mode::Select);
        return;
    }
    case GUMBO_TAG_OPTGROUP:
    case GUMBO_TAG_OPTION:
        if (s_.stack.currentIs(GUMBO_TAG_OPTION))
            s_.stack.pop();
        s_.reconstructFormatting();
        insert();
        return;
    case GUMBO_TAG_RB:
    case GUMBO_TAG_RTC:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_RT:
        if (s_.stack.tagInScope(GUMBO_TAG_RUBY, Scope::Default))
            s_.stack.generateImpliedEndTags(tag == GUMBO_TAG_RP || tag == GUMBO_TAG_RT ? GUMBO_TAG_RTC : GUMBO_TAG_LAST);
        insert();
        return;
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_SVG:
        s_.reconstructFormatting();
        s_.insertForeign(token, tag == GUMBO_TAG_SVG ? Namespace::Svg : Namespace::MathMl);
        return;
    default:
        if (Groups::isTablePart(tag))
            return;   // outside a table these are dropped
        s_.reconstructFormatting();
        insert();
        return;
    }
}

void HtmlBodyRules::endTag(const HtmlTagToken& token)
{
    const GumboTag tag = token.tag;
    if (Groups::isBlockEndTag(tag)) {
        if (s_.stack.tagInScope(tag, Scope::Default))
            s_.stack.popUntilTag(tag);
        return;
    }
    if (Groups::isHeading(tag)) {
        const int open = s_.stack.topmostIn(Stack::Heading);
        if (s_.stack.inScope(open, Scope::Default))
            s_.stack.popFrom(open);
        return;
    }
    if (Groups::isFormatting(tag)) {
        s_.formatting.adoptionAgency(token.tag);
        return;
    }
    switch (tag) {
    case GUMBO_TAG_TEMPLATE:
        if (s_.stack.topmost(GUMBO_TAG_TEMPLATE) != Stack::none) {
            s_.stack.popUntilTag(GUMBO_TAG_TEMPLATE);
            s_.formatting.clearToLastMarker();
            // Resetting the mode, a select it was in counts as in a table only with a table
            // nearer than any template.
            const int select = s_.stack.topmostIn(Stack::ModeElement);
            if (select != Stack::none && s_.stack.at(select).tag == GUMBO_TAG_SELECT) {
                const bool inTable = s_.stack.topmost(GUMBO_TAG_TABLE) > s_.stack.topmost(GUMBO_TAG_TEMPLATE);
                s_.stack.at(select).contentMode = std::uint8_t(inTable ? Mode::SelectInTable : Mode::Select);
            }
        }
        return;
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_HTML:
        return;
    case GUMBO_TAG_FORM:
        // gumbo leaves a form in a template open at its end tag.
        if (s_.stack.topmost(GUMBO_TAG_TEMPLATE) == Stack::none) {
            const std::optional<std::uint32_t> node = s_.form;
            s_.form.reset();
            const int position = node ? s_.stack.positionOf(*node) : Stack::none;
            if (!s_.stack.inScope(position, Scope::Default))
                return;
            s_.stack.generateImpliedEndTags(GUMBO_TAG_LAST);
            // Only the form goes; what is open inside it stays open.
            s_.stack.removeAt(s_.stack.positionOf(*node));
        }
        return;
    case GUMBO_TAG_P:
        if (s_.stack.tagInScope(GUMBO_TAG_P, Scope::Button))
            s_.stack.popUntilTag(GUMBO_TAG_P);
        return;
    case GUMBO_TAG_LI:
        if (s_.stack.tagInScope(GUMBO_TAG_LI, Scope::ListItem))
            s_.stack.popUntilTag(GUMBO_TAG_LI);
        return;
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT:
        if (s_.stack.tagInScope(tag, Scope::Default))
            s_.stack.popUntilTag(tag);
        return;
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_MARQUEE:
    case GUMBO_TAG_OBJECT:
        // gumbo looks for these in table scope, past other applets, marquees and objects.
        if (s_.stack.tagInScope(tag, Scope::Table)) {
            s_.stack.popUntilTag(tag);
            s_.formatting.clearToLastMarker();
        }
        return;
    case GUMBO_TAG_BR:
        s_.reconstructFormatting();   // read as <br>
        return;
    default:
        anyOtherEndTag(token);
        return;
    }
}

void HtmlBodyRules::anyOtherEndTag(const HtmlTagToken& token)
{
    // gumbo tells elements apart by tag alone here: the end tag of any element it has no tag
    // for closes the topmost such element, whatever its name.
    const int position = token.tag == GUMBO_TAG_UNKNOWN ? s_.stack.topmostIn(Stack::UnknownHtmlElement)
                                                        : s_.stack.topmost(token.tag);
    // A special element above it shields it from the end tag.
    if (position == Stack::none || s_.stack.topmostIn(Stack::Special) > position)
        return;
    s_.stack.popFrom(position);
}
