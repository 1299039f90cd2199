#include "convert/HtmlTreeBuilderModel.h"

#include "convert/HtmlTagGroups.h"

#include <algorithm>

namespace {

using Stack = HtmlOpenElementStack;
using Groups = HtmlTagGroups;
using Namespace = HtmlTreeBuilderState::Namespace;
using Head = HtmlTreeBuilderState::Head;

} // namespace

HtmlTreeBuilderModel::HtmlTreeBuilderModel(int maxDepth)
    : maxDepth_(maxDepth)
{
}

bool HtmlTreeBuilderModel::cdataAllowed() const
{
    return state_.stack.current().ns != Namespace::Html;
}

bool HtmlTreeBuilderModel::useHtmlRules(const HtmlTagToken& token) const
{
    const Stack::Element& current = state_.stack.current();
    if (current.ns == Namespace::Html)
        return true;
    const bool start = token.kind == HtmlTagToken::Kind::StartTag;
    const bool text = token.kind == HtmlTagToken::Kind::Text;
    if ((current.groups & Stack::TextIntegrationPoint)
        && (text || (start && token.tag != GUMBO_TAG_MGLYPH && token.tag != GUMBO_TAG_MALIGNMARK)))
        return true;
    if (current.tag == GUMBO_TAG_ANNOTATION_XML && start && token.tag == GUMBO_TAG_SVG)
        return true;
    return (current.groups & Stack::HtmlIntegrationPoint) && (start || text);
}

HtmlTreeBuilderModel::StartTagOutcome HtmlTreeBuilderModel::startTag(const HtmlTagToken& token)
{
    HtmlTreeBuilderState& s = state_;
    s.pushedForToken = false;
    s.textMode.reset();
    s.tokensSeen = true;
    bool html = useHtmlRules(token);
    if (!html && Groups::breaksOutOfForeignContent(token)) {
        while (s.stack.size() > 1) {
            const Stack::Element& current = s.stack.current();
            if (current.ns == Namespace::Html
                || (current.groups & (Stack::HtmlIntegrationPoint | Stack::TextIntegrationPoint)))
                break;
            s.stack.pop();
        }
        html = true;
    }
    if (s.inFrameset) {
        // Only framesets nest in a frameset (none after the outermost closed); all else is
        // dropped.
        if (token.tag == GUMBO_TAG_FRAMESET && s.stack.size() > 1)
            s.insertHtml(token.tag, token.name, true);
        else if (token.tag == GUMBO_TAG_NOFRAMES)
            s.textMode = HtmlTagScanner::TextMode::RawText;
    } else if (!html) {
        s.insertForeign(token, s.stack.current().ns);
    } else if (!s.inHead() || !body_.startTagInHead(token)) {
        startTagInMode(token);
    }

    StartTagOutcome outcome;
    outcome.textMode = s.textMode;
    if (s.pushedForToken && s.stack.size() > maxDepth_) {
        // Too deep: the element stays, empty, and what the page puts inside it follows it.
        HtmlTagToken close = token;
        close.kind = HtmlTagToken::Kind::EndTag;
        close.attributes = {};
        close.selfClosing = false;
        endTag(close);
        outcome.flattened = true;
    }
    return outcome;
}

// A token handled in one mode may be handed to the next (a cell start tag closes the open cell
// first); each hand-over closes or opens something, so few are needed.
void HtmlTreeBuilderModel::startTagInMode(const HtmlTagToken& token)
{
    for (int pass = 0; pass < 8; ++pass) {
        bool again = false;
        switch (const Mode mode = state_.mode()) {
        case Mode::Body:
            body_.startTag(token);
            break;
        case Mode::Template:
            if (Groups::isOneOf(token.tag, {GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_LINK,
                                               GUMBO_TAG_META, GUMBO_TAG_NOFRAMES, GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE,
                                               GUMBO_TAG_TEMPLATE, GUMBO_TAG_TITLE})) {
                body_.startTag(token);
            } else {
                // The template's first start tag decides how its content is read.
                Mode content = Mode::Body;
                if (Groups::isOneOf(token.tag, {GUMBO_TAG_CAPTION, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY,
                                                   GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD}))
                    content = Mode::Table;
                else if (token.tag == GUMBO_TAG_COL)
                    content = Mode::ColumnGroup;
                else if (token.tag == GUMBO_TAG_TR)
                    content = Mode::TableBody;
                else if (token.tag == GUMBO_TAG_TD || token.tag == GUMBO_TAG_TH)
                    content = Mode::Row;
                state_.stack.at(state_.stack.topmost(GUMBO_TAG_TEMPLATE)).contentMode = std::uint8_t(content);
                again = true;
            }
            break;
        default:
            again = tables_.startTag(token, mode);
            break;
        }
        if (!again)
            return;
    }
}

void HtmlTreeBuilderModel::endTag(const HtmlTagToken& token)
{
    HtmlTreeBuilderState& s = state_;
    s.tokensSeen = true;
    if (s.inFrameset) {
        if (token.tag == GUMBO_TAG_FRAMESET && s.stack.size() > 1)
            s.stack.pop();
        return;
    }
    if (s.stack.current().ns == Namespace::Html && s.inHead() && body_.endTagInHead(token))
        return;
    if (s.stack.current().ns != Namespace::Html && endTagInForeignContent(token))
        return;
    endTagInMode(token);
}

void HtmlTreeBuilderModel::endTagInMode(const HtmlTagToken& token)
{
    for (int pass = 0; pass < 8; ++pass) {
        bool again = false;
        switch (const Mode mode = state_.mode()) {
        case Mode::Body:
            body_.endTag(token);
            break;
        case Mode::Template:
            if (token.tag == GUMBO_TAG_TEMPLATE)
                body_.endTag(token);
            break;
        default:
            again = tables_.endTag(token, mode);
            break;
        }
        if (!again)
            return;
    }
}

// In foreign content an end tag closes the nearest foreign element of its name among those
// open on top; otherwise the HTML rules decide.
bool HtmlTreeBuilderModel::endTagInForeignContent(const HtmlTagToken& token)
{
    const Stack& stack = state_.stack;
    const int html = stack.topmostIn(Stack::HtmlElement);
    int found = Stack::none;
    for (const Namespace ns : {Namespace::Svg, Namespace::MathMl}) {
        int position = Stack::none;
        if (token.tag != GUMBO_TAG_UNKNOWN) {
            position = stack.topmost(token.tag, ns);
        } else if (const std::optional<std::uint32_t> name = state_.knownName(token.name)) {
            position = stack.topmostNamed(*name, ns);
        }
        found = std::max(found, position);
    }
    if (found == Stack::none || found < html)
        return false;
    state_.stack.popFrom(found);
    return true;
}

void HtmlTreeBuilderModel::doctype(std::string_view text)
{
    // Only a doctype before anything else counts.
    if (state_.tokensSeen)
        return;
    std::string name;
    for (std::size_t i = 9; i < text.size(); ++i) {   // after "<!DOCTYPE"
        const char c = HtmlTagScanner::lowerAscii(text[i]);
        if (c != ' ' && c != '\t' && c != '\n' && c != '\f' && c != '\r' && c != '>')
            name += c;
    }
    state_.quirks = name != "html";
    state_.tokensSeen = true;
}

void HtmlTreeBuilderModel::text(bool whitespace)
{
    HtmlTreeBuilderState& s = state_;
    if (!whitespace)
        s.tokensSeen = true;
    if (s.inFrameset)
        return;
    if (s.inHead()) {
        if (whitespace)
            return;
        if (s.head == Head::InNoscript)
            s.stack.pop();
        s.head = Head::Over;
    }
    if (!whitespace)
        s.framesetOk = false;
    HtmlTagToken token;
    token.kind = HtmlTagToken::Kind::Text;
    if (!useHtmlRules(token))
        return;
    switch (s.mode()) {
    case Mode::Select:
    case Mode::SelectInTable:
        return;
    case Mode::ColumnGroup:
        if (!whitespace && s.stack.currentIs(GUMBO_TAG_COLGROUP)) {
            s.stack.pop();
            s.reconstructFormatting();
        }
        return;
    case Mode::Table:
    case Mode::TableBody:
    case Mode::Row:
        // Table text: only text that is not all whitespace goes, with its formatting, in
        // front of the table.
        if (!whitespace)
            s.reconstructFormatting();
        return;
    default:
        s.reconstructFormatting();
        return;
    }
}
