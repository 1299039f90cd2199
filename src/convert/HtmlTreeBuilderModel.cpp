#include "convert/HtmlTreeBuilderModel.h"

#include <array>

namespace {

using Stack = HtmlOpenElementStack;

bool isOneOf(GumboTag tag, std::initializer_list<GumboTag> tags)
{
    for (GumboTag t : tags) {
        if (t == tag)
            return true;
    }
    return false;
}

bool isHeading(GumboTag tag)
{
    return isOneOf(tag, {GUMBO_TAG_H1, GUMBO_TAG_H2, GUMBO_TAG_H3, GUMBO_TAG_H4, GUMBO_TAG_H5, GUMBO_TAG_H6});
}

bool isFormatting(GumboTag tag)
{
    return isOneOf(tag, {GUMBO_TAG_A, GUMBO_TAG_B, GUMBO_TAG_BIG, GUMBO_TAG_CODE, GUMBO_TAG_EM, GUMBO_TAG_FONT,
                            GUMBO_TAG_I, GUMBO_TAG_NOBR, GUMBO_TAG_S, GUMBO_TAG_SMALL, GUMBO_TAG_STRIKE,
                            GUMBO_TAG_STRONG, GUMBO_TAG_TT, GUMBO_TAG_U});
}

// Start tags that close an open p (in button scope) before their element opens.
bool closesParagraph(GumboTag tag)
{
    return isOneOf(tag, {GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE, GUMBO_TAG_BLOCKQUOTE,
                            GUMBO_TAG_CENTER, GUMBO_TAG_DETAILS, GUMBO_TAG_DIR, GUMBO_TAG_DIV, GUMBO_TAG_DL,
                            GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE, GUMBO_TAG_FOOTER,
                            GUMBO_TAG_HEADER, GUMBO_TAG_HGROUP, GUMBO_TAG_MAIN, GUMBO_TAG_MENU, GUMBO_TAG_NAV,
                            GUMBO_TAG_OL, GUMBO_TAG_P, GUMBO_TAG_SECTION, GUMBO_TAG_SUMMARY, GUMBO_TAG_UL});
}

// End tags that close their element when it is in scope, whatever is open inside it.
bool isBlockEndTag(GumboTag tag)
{
    return isOneOf(tag, {GUMBO_TAG_ADDRESS, GUMBO_TAG_ARTICLE, GUMBO_TAG_ASIDE, GUMBO_TAG_BLOCKQUOTE,
                            GUMBO_TAG_BUTTON, GUMBO_TAG_CENTER, GUMBO_TAG_DETAILS, GUMBO_TAG_DIR, GUMBO_TAG_DIV,
                            GUMBO_TAG_DL, GUMBO_TAG_FIELDSET, GUMBO_TAG_FIGCAPTION, GUMBO_TAG_FIGURE,
                            GUMBO_TAG_FOOTER, GUMBO_TAG_HEADER, GUMBO_TAG_HGROUP, GUMBO_TAG_LISTING,
                            GUMBO_TAG_MAIN, GUMBO_TAG_MENU, GUMBO_TAG_NAV, GUMBO_TAG_OL, GUMBO_TAG_PRE,
                            GUMBO_TAG_SECTION, GUMBO_TAG_SUMMARY, GUMBO_TAG_UL});
}

// Elements the tree builder opens and closes at once.
bool isVoid(GumboTag tag)
{
    return isOneOf(tag, {GUMBO_TAG_AREA, GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_BR,
                            GUMBO_TAG_COL, GUMBO_TAG_EMBED, GUMBO_TAG_FRAME, GUMBO_TAG_HR, GUMBO_TAG_IMAGE,
                            GUMBO_TAG_IMG, GUMBO_TAG_INPUT, GUMBO_TAG_ISINDEX, GUMBO_TAG_KEYGEN, GUMBO_TAG_LINK,
                            GUMBO_TAG_MENUITEM, GUMBO_TAG_META, GUMBO_TAG_PARAM, GUMBO_TAG_SOURCE,
                            GUMBO_TAG_TRACK, GUMBO_TAG_WBR});
}

bool isHiddenInput(const HtmlTagToken& token)
{
    std::string type(HtmlTagScanner::attribute(token.attributes, "type"));
    for (char& c : type)
        c = c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
    return type == "hidden";
}

bool isTablePart(GumboTag tag)
{
    return isOneOf(tag, {GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY, GUMBO_TAG_TD,
                            GUMBO_TAG_TFOOT, GUMBO_TAG_TH, GUMBO_TAG_THEAD, GUMBO_TAG_TR});
}

// Start tags that leave foreign content (svg, math) for HTML again.
bool breaksOutOfForeignContent(const HtmlTagToken& token)
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
            && !isOneOf(GumboTag(tag), {GUMBO_TAG_ADDRESS, GUMBO_TAG_DIV, GUMBO_TAG_P}))
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

std::uint16_t htmlGroups(GumboTag tag)
{
    static const auto groups = makeHtmlGroups();
    return groups[tag];
}

// Spaces around the attributes do not make two formatting elements differ.
std::string_view trimmed(std::string_view text)
{
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; };
    while (!text.empty() && space(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && space(text.back()))
        text.remove_suffix(1);
    return text;
}

char lowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

} // namespace

HtmlTreeBuilderModel::HtmlTreeBuilderModel(int maxDepth)
    : maxDepth_(maxDepth)
{
    // html and body are there from the start; head comes and goes before body.
    insertHtml(GUMBO_TAG_HTML, "html");
    insertHtml(GUMBO_TAG_BODY, "body");
}

std::uint32_t HtmlTreeBuilderModel::internName(std::string_view name)
{
    lowered_.assign(name);
    for (char& c : lowered_)
        c = lowerAscii(c);
    const auto it = names_.find(lowered_);
    if (it != names_.end())
        return it->second;
    const auto id = std::uint32_t(names_.size());
    names_.emplace(lowered_, id);
    return id;
}

bool HtmlTreeBuilderModel::cdataAllowed() const
{
    return stack_.current().ns != Namespace::Html;
}

HtmlTreeBuilderModel::Mode HtmlTreeBuilderModel::mode() const
{
    const int position = stack_.topmostIn(Stack::ModeElement);
    if (position == Stack::none)
        return Mode::Body;
    switch (stack_.at(position).tag) {
    case GUMBO_TAG_SELECT:
        return Mode(stack_.at(position).contentMode);
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
        return Mode::Cell;
    case GUMBO_TAG_TR:
        return Mode::Row;
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TFOOT:
        return Mode::TableBody;
    case GUMBO_TAG_CAPTION:
        return Mode::Caption;
    case GUMBO_TAG_COLGROUP:
        return Mode::ColumnGroup;
    case GUMBO_TAG_TABLE:
        return Mode::Table;
    default:
        return Mode(stack_.at(position).contentMode);
    }
}

bool HtmlTreeBuilderModel::useHtmlRules(const HtmlTagToken& token) const
{
    const Element& current = stack_.current();
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

bool HtmlTreeBuilderModel::inScope(int position, Scope scope) const
{
    if (position == Stack::none)
        return false;
    int boundary = stack_.topmostIn(Stack::ScopeBoundary);
    switch (scope) {
    case Scope::Default:
        break;
    case Scope::ListItem:
        boundary = std::max(boundary, stack_.topmostIn(Stack::ListScopeBoundary));
        break;
    case Scope::Button:
        boundary = std::max(boundary, stack_.topmostIn(Stack::ButtonScopeBoundary));
        break;
    case Scope::Table:
        boundary = stack_.topmostIn(Stack::TableScopeBoundary);
        break;
    }
    // The element itself may be the boundary (a table in table scope).
    return position >= boundary;
}

bool HtmlTreeBuilderModel::tagInScope(GumboTag tag, Scope scope) const
{
    return inScope(stack_.topmost(tag), scope);
}

int HtmlTreeBuilderModel::topmostOf(std::initializer_list<GumboTag> tags) const
{
    int position = Stack::none;
    for (GumboTag tag : tags)
        position = std::max(position, stack_.topmost(tag));
    return position;
}

bool HtmlTreeBuilderModel::currentIs(GumboTag tag) const
{
    const Element& current = stack_.current();
    return current.ns == Namespace::Html && current.tag == tag;
}

bool HtmlTreeBuilderModel::currentIsOneOf(std::initializer_list<GumboTag> tags) const
{
    const Element& current = stack_.current();
    return current.ns == Namespace::Html && isOneOf(current.tag, tags);
}

std::uint32_t HtmlTreeBuilderModel::insertHtml(GumboTag tag, std::string_view name)
{
    Element element;
    element.tag = tag;
    element.name = tag == GUMBO_TAG_UNKNOWN ? internName(name) : 0;
    element.ns = Namespace::Html;
    element.groups = htmlGroups(tag);
    if (tag == GUMBO_TAG_UNKNOWN)
        element.groups |= Stack::UnknownHtmlElement;
    return stack_.push(element);
}

void HtmlTreeBuilderModel::insertForeign(const HtmlTagToken& token, Namespace ns)
{
    Element element;
    element.ns = ns;
    element.tag = token.tag;
    element.name = token.tag == GUMBO_TAG_UNKNOWN ? internName(token.name) : 0;
    const auto integration = std::uint16_t(Stack::ScopeBoundary | Stack::Special | Stack::SpecialBlock);
    if (ns == Namespace::Svg
        && isOneOf(token.tag, {GUMBO_TAG_FOREIGNOBJECT, GUMBO_TAG_DESC, GUMBO_TAG_TITLE})) {
        element.groups = integration | Stack::HtmlIntegrationPoint;
    } else if (ns == Namespace::MathMl
        && isOneOf(token.tag, {GUMBO_TAG_MI, GUMBO_TAG_MO, GUMBO_TAG_MN, GUMBO_TAG_MS, GUMBO_TAG_MTEXT})) {
        element.groups = integration | Stack::TextIntegrationPoint;
    } else if (ns == Namespace::MathMl && token.tag == GUMBO_TAG_ANNOTATION_XML) {
        element.groups = integration;
        std::string encoding(HtmlTagScanner::attribute(token.attributes, "encoding"));
        for (char& c : encoding)
            c = lowerAscii(c);
        if (encoding == "text/html" || encoding == "application/xhtml+xml")
            element.groups |= Stack::HtmlIntegrationPoint;
    }
    if (token.selfClosing)
        return;   // opened and closed at once
    stack_.push(element);
    pushedForToken_ = true;
}

void HtmlTreeBuilderModel::popUntilTag(GumboTag tag)
{
    const int position = stack_.topmost(tag);
    if (position != Stack::none)
        stack_.popFrom(position);
}

void HtmlTreeBuilderModel::popWhileCurrentIn(std::initializer_list<GumboTag> tags)
{
    while (stack_.size() > 1 && currentIsOneOf(tags))
        stack_.pop();
}

void HtmlTreeBuilderModel::popUntilCurrentIn(std::initializer_list<GumboTag> tags)
{
    while (stack_.size() > 1 && !currentIsOneOf(tags))
        stack_.pop();
}

void HtmlTreeBuilderModel::closePInButtonScope()
{
    if (tagInScope(GUMBO_TAG_P, Scope::Button))
        popUntilTag(GUMBO_TAG_P);
}

void HtmlTreeBuilderModel::closeCell()
{
    stack_.popFrom(topmostOf({GUMBO_TAG_TD, GUMBO_TAG_TH}));
    clearToLastMarker();
}

void HtmlTreeBuilderModel::generateImpliedEndTags(GumboTag except)
{
    while (stack_.size() > 1) {
        const Element& current = stack_.current();
        if (current.ns != Namespace::Html || current.tag == except
            || !isOneOf(current.tag, {GUMBO_TAG_DD, GUMBO_TAG_DT, GUMBO_TAG_LI, GUMBO_TAG_OPTGROUP,
                                         GUMBO_TAG_OPTION, GUMBO_TAG_P, GUMBO_TAG_RB, GUMBO_TAG_RP, GUMBO_TAG_RT,
                                         GUMBO_TAG_RTC}))
            return;
        stack_.pop();
    }
}

// --- The list of active formatting elements ---

void HtmlTreeBuilderModel::pushMarker()
{
    FormattingEntry marker;
    marker.marker = true;
    formatting_.push_back(marker);
}

void HtmlTreeBuilderModel::removeEntry(int index)
{
    const FormattingEntry& entry = formatting_[std::size_t(index)];
    if (!entry.marker) {
        const int position = stack_.positionOf(entry.element);
        if (position != Stack::none)
            stack_.at(position).inFormattingList = false;
    }
    formatting_.erase(formatting_.begin() + index);
}

void HtmlTreeBuilderModel::clearToLastMarker()
{
    while (!formatting_.empty()) {
        const bool marker = formatting_.back().marker;
        removeEntry(int(formatting_.size()) - 1);
        if (marker)
            return;
    }
}

int HtmlTreeBuilderModel::lastEntryAfterMarker(GumboTag tag) const
{
    for (int i = int(formatting_.size()) - 1; i >= 0; --i) {
        const FormattingEntry& entry = formatting_[std::size_t(i)];
        if (entry.marker)
            return -1;
        if (entry.tag == tag)
            return i;
    }
    return -1;
}

// Formatting elements closed by the end of their block open again, anew, where text or an
// inline element follows.
void HtmlTreeBuilderModel::reconstructFormatting()
{
    const auto open = [this](const FormattingEntry& entry) {
        return entry.marker || stack_.positionOf(entry.element) != Stack::none;
    };
    if (formatting_.empty() || open(formatting_.back()))
        return;
    std::size_t first = formatting_.size() - 1;
    while (first > 0 && !open(formatting_[first - 1]))
        --first;
    for (std::size_t i = first; i < formatting_.size(); ++i) {
        Element element;
        element.tag = formatting_[i].tag;
        element.groups = htmlGroups(element.tag);
        element.inFormattingList = true;
        formatting_[i].element = stack_.push(element);
        ++reconstructed_;
    }
}

void HtmlTreeBuilderModel::insertFormatting(const HtmlTagToken& token)
{
    // At most three identical elements (same tag and attributes) after the last marker: a
    // fourth pushes out the earliest.
    const std::string_view attributes = trimmed(token.attributes);
    int identical = 0;
    int earliest = -1;
    for (int i = int(formatting_.size()) - 1; i >= 0; --i) {
        const FormattingEntry& entry = formatting_[std::size_t(i)];
        if (entry.marker)
            break;
        if (entry.tag == token.tag && entry.attributes == attributes) {
            ++identical;
            earliest = i;
        }
    }
    if (identical >= 3)
        removeEntry(earliest);
    Element element;
    element.tag = token.tag;
    element.groups = htmlGroups(token.tag);
    element.inFormattingList = true;
    FormattingEntry entry;
    entry.tag = token.tag;
    entry.attributes = attributes;
    entry.element = stack_.push(element);
    formatting_.push_back(entry);
    pushedForToken_ = true;
}

// The end tag of a formatting element that may be misnested: the tree builder moves the
// blocks opened inside it out and repeats it inside them.
void HtmlTreeBuilderModel::adoptionAgency(const HtmlTagToken& token)
{
    const GumboTag subject = token.tag;
    if (currentIs(subject) && !stack_.current().inFormattingList) {
        stack_.pop();
        return;
    }
    const auto entryOf = [this](std::uint32_t element) {
        for (int i = int(formatting_.size()) - 1; i >= 0; --i) {
            if (!formatting_[std::size_t(i)].marker && formatting_[std::size_t(i)].element == element)
                return i;
        }
        return -1;
    };
    for (int outer = 0; outer < 8; ++outer) {
        int entryIndex = lastEntryAfterMarker(subject);
        if (entryIndex < 0) {
            anyOtherEndTag(token);
            return;
        }
        const int position = stack_.positionOf(formatting_[std::size_t(entryIndex)].element);
        if (position == Stack::none) {
            removeEntry(entryIndex);
            return;
        }
        if (!inScope(position, Scope::Default))
            return;
        int furthestBlock = stack_.firstAbove(Stack::Special, position);
        if (furthestBlock == Stack::none) {
            stack_.popFrom(position);
            formatting_.erase(formatting_.begin() + entryIndex);
            return;
        }
        // gumbo looks at no more than three elements between the furthest block and the
        // formatting element: those not in the list leave the stack, those in it are made anew.
        int bookmark = entryIndex;
        int node = furthestBlock;
        int lastNode = furthestBlock;
        for (int inner = 0; inner < 3; ++inner) {
            --node;
            if (node == position)
                break;
            const int nodeEntry = stack_.at(node).inFormattingList ? entryOf(stack_.at(node).id) : -1;
            if (nodeEntry < 0) {
                stack_.removeAt(node);
                --furthestBlock;
                --lastNode;
                continue;
            }
            formatting_[std::size_t(nodeEntry)].element = stack_.replaceAt(node);
            if (lastNode == furthestBlock)
                bookmark = nodeEntry + 1;
            lastNode = node;
        }
        // The formatting element is made anew inside the furthest block.
        FormattingEntry entry = formatting_[std::size_t(entryIndex)];
        Element element = stack_.at(position);
        stack_.removeAt(position);
        --furthestBlock;
        entry.element = stack_.insertAt(furthestBlock + 1, element);
        formatting_.erase(formatting_.begin() + entryIndex);
        if (bookmark > entryIndex)
            --bookmark;
        formatting_.insert(formatting_.begin() + bookmark, entry);
    }
}

// --- Tokens ---

HtmlTreeBuilderModel::StartTagOutcome HtmlTreeBuilderModel::startTag(const HtmlTagToken& token)
{
    StartTagOutcome outcome;
    pushedForToken_ = false;
    bool html = useHtmlRules(token);
    if (!html && breaksOutOfForeignContent(token)) {
        while (stack_.size() > 1) {
            const Element& current = stack_.current();
            if (current.ns == Namespace::Html
                || (current.groups & (Stack::HtmlIntegrationPoint | Stack::TextIntegrationPoint)))
                break;
            stack_.pop();
        }
        html = true;
    }
    if (inFrameset_) {
        // Only framesets nest in a frameset; all else is dropped.
        if (token.tag == GUMBO_TAG_FRAMESET && stack_.size() > 1) {   // none after the outermost closed
            insertHtml(token.tag, token.name);
            pushedForToken_ = true;
        } else if (token.tag == GUMBO_TAG_NOFRAMES) {
            outcome.textMode = HtmlTagScanner::TextMode::RawText;
        }
    } else if (!html) {
        startTagInForeignContent(token);
    } else if (inHead() && startTagInHead(token, outcome)) {
        // taken by the head
    } else {
        // A token handled in one mode may be handed to the next (a cell start tag closes the
        // open cell first); each hand-over closes or opens something, so few are needed.
        for (int pass = 0; pass < 8; ++pass) {
            bool again = false;
            switch (const Mode m = mode()) {
            case Mode::Body:
                again = startTagInBody(token, outcome);
                break;
            case Mode::Template:
                if (isOneOf(token.tag, {GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_LINK,
                                           GUMBO_TAG_META, GUMBO_TAG_NOFRAMES, GUMBO_TAG_SCRIPT, GUMBO_TAG_STYLE,
                                           GUMBO_TAG_TEMPLATE, GUMBO_TAG_TITLE})) {
                    again = startTagInBody(token, outcome);
                } else {
                    // The template's first start tag decides how its content is read.
                    Mode content = Mode::Body;
                    if (isOneOf(token.tag, {GUMBO_TAG_CAPTION, GUMBO_TAG_COLGROUP, GUMBO_TAG_TBODY,
                                               GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD}))
                        content = Mode::Table;
                    else if (token.tag == GUMBO_TAG_COL)
                        content = Mode::ColumnGroup;
                    else if (token.tag == GUMBO_TAG_TR)
                        content = Mode::TableBody;
                    else if (token.tag == GUMBO_TAG_TD || token.tag == GUMBO_TAG_TH)
                        content = Mode::Row;
                    stack_.at(stack_.topmost(GUMBO_TAG_TEMPLATE)).contentMode = std::uint8_t(content);
                    again = true;
                }
                break;
            case Mode::Cell:
            case Mode::Caption:
                if (isTablePart(token.tag)) {
                    const bool cell = m == Mode::Cell;
                    const int open = cell ? topmostOf({GUMBO_TAG_TD, GUMBO_TAG_TH}) : stack_.topmost(GUMBO_TAG_CAPTION);
                    if (inScope(open, Scope::Table)) {
                        if (cell) {
                            closeCell();
                        } else {
                            stack_.popFrom(open);
                            clearToLastMarker();
                        }
                        again = true;
                    }
                } else {
                    again = startTagInBody(token, outcome);
                }
                break;
            case Mode::Table:
            case Mode::TableBody:
            case Mode::Row:
                again = startTagInTable(token, outcome, m);
                break;
            case Mode::ColumnGroup:
                if (token.tag == GUMBO_TAG_COL || token.tag == GUMBO_TAG_HTML) {
                    break;
                }
                if (token.tag == GUMBO_TAG_TEMPLATE) {
                    again = startTagInBody(token, outcome);
                } else if (currentIs(GUMBO_TAG_COLGROUP)) {
                    stack_.pop();
                    again = true;
                }
                break;
            case Mode::Select:
            case Mode::SelectInTable:
                again = startTagInSelect(token, outcome, m == Mode::SelectInTable);
                break;
            }
            if (!again)
                break;
        }
    }
    if (pushedForToken_ && stack_.size() > maxDepth_) {
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

bool HtmlTreeBuilderModel::inHead() const
{
    // A template in the head reads its content by the template rules.
    return head_ != Head::Over && stack_.topmost(GUMBO_TAG_TEMPLATE) == Stack::none;
}

// True when the head took the token; false when the head is over and the body reads it.
bool HtmlTreeBuilderModel::startTagInHead(const HtmlTagToken& token, StartTagOutcome& outcome)
{
    using TextMode = HtmlTagScanner::TextMode;
    const GumboTag tag = token.tag;
    if (head_ == Head::InNoscript) {
        if (isOneOf(tag, {GUMBO_TAG_LINK, GUMBO_TAG_META, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_HEAD,
                             GUMBO_TAG_NOSCRIPT, GUMBO_TAG_HTML}))
            return true;
        if (tag == GUMBO_TAG_NOFRAMES || tag == GUMBO_TAG_STYLE) {
            outcome.textMode = TextMode::RawText;
            return true;
        }
        stack_.pop();   // anything else ends the noscript and is read again in the head
        head_ = Head::In;
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
        outcome.textMode = TextMode::RcData;
        return true;
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_STYLE:
        outcome.textMode = TextMode::RawText;
        return true;
    case GUMBO_TAG_SCRIPT:
        outcome.textMode = TextMode::ScriptData;
        return true;
    case GUMBO_TAG_TEMPLATE:
        return startTagInBody(token, outcome), true;
    case GUMBO_TAG_NOSCRIPT:
        if (head_ != Head::In)
            break;
        insertHtml(tag, token.name);
        pushedForToken_ = true;
        head_ = Head::InNoscript;
        return true;
    case GUMBO_TAG_BODY:
        head_ = Head::Over;
        framesetOk_ = false;
        return true;
    default:
        break;
    }
    head_ = Head::Over;
    return false;
}

bool HtmlTreeBuilderModel::endTagInHead(const HtmlTagToken& token)
{
    if (head_ == Head::InNoscript) {
        if (token.tag != GUMBO_TAG_NOSCRIPT && token.tag != GUMBO_TAG_BR)
            return true;
        stack_.pop();
        head_ = Head::In;
        if (token.tag == GUMBO_TAG_NOSCRIPT)
            return true;
    }
    switch (token.tag) {
    case GUMBO_TAG_HEAD:
        if (head_ == Head::In)
            head_ = Head::After;
        return true;
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BR:
        head_ = Head::Over;
        return false;
    default:
        return true;
    }
}

void HtmlTreeBuilderModel::startTagInForeignContent(const HtmlTagToken& token)
{
    insertForeign(token, stack_.current().ns);
}

bool HtmlTreeBuilderModel::startTagInBody(const HtmlTagToken& token, StartTagOutcome& outcome)
{
    using TextMode = HtmlTagScanner::TextMode;
    const GumboTag tag = token.tag;
    if (isOneOf(tag, {GUMBO_TAG_PRE, GUMBO_TAG_LISTING, GUMBO_TAG_LI, GUMBO_TAG_DD, GUMBO_TAG_DT, GUMBO_TAG_BUTTON,
                         GUMBO_TAG_APPLET, GUMBO_TAG_MARQUEE, GUMBO_TAG_OBJECT, GUMBO_TAG_TABLE, GUMBO_TAG_AREA,
                         GUMBO_TAG_BR, GUMBO_TAG_EMBED, GUMBO_TAG_IMG, GUMBO_TAG_KEYGEN, GUMBO_TAG_WBR,
                         GUMBO_TAG_HR, GUMBO_TAG_TEXTAREA, GUMBO_TAG_XMP, GUMBO_TAG_IFRAME, GUMBO_TAG_SELECT,
                         GUMBO_TAG_IMAGE, GUMBO_TAG_ISINDEX, GUMBO_TAG_BODY})
        || (tag == GUMBO_TAG_INPUT && !isHiddenInput(token)))
        framesetOk_ = false;
    if (tag == GUMBO_TAG_FRAMESET) {
        // Before any content, a frameset replaces the body.
        if (framesetOk_ && stack_.size() >= 2 && stack_.at(1).tag == GUMBO_TAG_BODY
            && stack_.topmost(GUMBO_TAG_TEMPLATE) == Stack::none) {
            stack_.popFrom(1);
            insertHtml(tag, token.name);
            pushedForToken_ = true;
            inFrameset_ = true;
        }
        return false;
    }
    const auto insert = [&] {
        insertHtml(tag, token.name);
        pushedForToken_ = true;
    };
    if (isVoid(tag)) {
        // isindex stands for a small form (closed again right away) when no form is open.
        if (tag == GUMBO_TAG_HR || (tag == GUMBO_TAG_ISINDEX && !form_))
            closePInButtonScope();
        else if (!isOneOf(tag, {GUMBO_TAG_BASE, GUMBO_TAG_BASEFONT, GUMBO_TAG_BGSOUND, GUMBO_TAG_LINK,
                                   GUMBO_TAG_META, GUMBO_TAG_PARAM, GUMBO_TAG_SOURCE, GUMBO_TAG_TRACK,
                                   GUMBO_TAG_FRAME, GUMBO_TAG_COL}))
            reconstructFormatting();
        return false;
    }
    if (closesParagraph(tag)) {
        closePInButtonScope();
        insert();
        return false;
    }
    if (isHeading(tag)) {
        closePInButtonScope();
        if (stack_.current().ns == Namespace::Html && isHeading(stack_.current().tag))
            stack_.pop();
        insert();
        return false;
    }
    if (isFormatting(tag)) {
        if (tag == GUMBO_TAG_A) {
            const int open = lastEntryAfterMarker(GUMBO_TAG_A);
            if (open >= 0) {
                const std::uint32_t element = formatting_[std::size_t(open)].element;
                adoptionAgency(token);
                for (int i = int(formatting_.size()) - 1; i >= 0; --i) {
                    if (!formatting_[std::size_t(i)].marker && formatting_[std::size_t(i)].element == element) {
                        removeEntry(i);
                        break;
                    }
                }
                const int position = stack_.positionOf(element);
                if (position != Stack::none)
                    stack_.removeAt(position);
            }
        }
        reconstructFormatting();
        if (tag == GUMBO_TAG_NOBR && tagInScope(GUMBO_TAG_NOBR, Scope::Default)) {
            adoptionAgency(token);
            reconstructFormatting();
        }
        insertFormatting(token);
        return false;
    }
    switch (tag) {
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_HEAD:
        return false;
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_NOFRAMES:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED:
        outcome.textMode = TextMode::RawText;
        return false;
    case GUMBO_TAG_XMP:
        closePInButtonScope();
        reconstructFormatting();
        outcome.textMode = TextMode::RawText;
        return false;
    case GUMBO_TAG_SCRIPT:
        outcome.textMode = TextMode::ScriptData;
        return false;
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_TEXTAREA:
        outcome.textMode = TextMode::RcData;
        return false;
    case GUMBO_TAG_PLAINTEXT:
        closePInButtonScope();
        outcome.textMode = TextMode::PlainText;
        return false;
    case GUMBO_TAG_TEMPLATE:
        insert();
        stack_.at(stack_.size() - 1).contentMode = std::uint8_t(Mode::Template);
        pushMarker();
        return false;
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_LISTING:
        closePInButtonScope();
        insert();
        return false;
    case GUMBO_TAG_FORM:
        if (form_ && stack_.topmost(GUMBO_TAG_TEMPLATE) == Stack::none)
            return false;
        closePInButtonScope();
        insert();
        if (stack_.topmost(GUMBO_TAG_TEMPLATE) == Stack::none)
            form_ = stack_.current().id;
        return false;
    case GUMBO_TAG_LI:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT: {
        // An open item closes first, unless a block other than address, div or p lies between.
        const int open = tag == GUMBO_TAG_LI ? stack_.topmost(GUMBO_TAG_LI) : topmostOf({GUMBO_TAG_DD, GUMBO_TAG_DT});
        if (open != Stack::none && open >= stack_.topmostIn(Stack::SpecialBlock))
            stack_.popFrom(open);
        closePInButtonScope();
        insert();
        return false;
    }
    case GUMBO_TAG_BUTTON:
        if (tagInScope(GUMBO_TAG_BUTTON, Scope::Default))
            popUntilTag(GUMBO_TAG_BUTTON);
        reconstructFormatting();
        insert();
        return false;
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_MARQUEE:
    case GUMBO_TAG_OBJECT:
        reconstructFormatting();
        insert();
        pushMarker();
        return false;
    case GUMBO_TAG_TABLE:
        // Whether a table closes an open p depends on the document's mode; keeping it open
        // errs on the deep side.
        insert();
        return false;
    case GUMBO_TAG_SELECT: {
        // gumbo reads a select opened in any table mode as one in a table (a cell in a
        // template included).
        const Mode m = mode();
        const bool inTable = m == Mode::Table || m == Mode::TableBody || m == Mode::Row || m == Mode::Cell
            || m == Mode::Caption;
        reconstructFormatting();
        insert();
        stack_.at(stack_.size() - 1).contentMode = std::uint8_t(inTable ? Mode::SelectInTable : Mode::Select);
        return false;
    }
    case GUMBO_TAG_OPTGROUP:
    case GUMBO_TAG_OPTION:
        if (currentIs(GUMBO_TAG_OPTION))
            stack_.pop();
        reconstructFormatting();
        insert();
        return false;
    case GUMBO_TAG_RB:
    case GUMBO_TAG_RTC:
    case GUMBO_TAG_RP:
    case GUMBO_TAG_RT:
        if (tagInScope(GUMBO_TAG_RUBY, Scope::Default))
            generateImpliedEndTags(tag == GUMBO_TAG_RP || tag == GUMBO_TAG_RT ? GUMBO_TAG_RTC : GUMBO_TAG_LAST);
        insert();
        return false;
    case GUMBO_TAG_MATH:
    case GUMBO_TAG_SVG:
        reconstructFormatting();
        insertForeign(token, tag == GUMBO_TAG_SVG ? Namespace::Svg : Namespace::MathMl);
        return false;
    default:
        if (isTablePart(tag))
            return false;   // outside a table these are dropped
        reconstructFormatting();
        insert();
        return false;
    }
}

bool HtmlTreeBuilderModel::startTagInTable(const HtmlTagToken& token, StartTagOutcome& outcome, Mode mode)
{
    const GumboTag tag = token.tag;
    const auto insert = [&] {
        insertHtml(tag, token.name);
        pushedForToken_ = true;
    };
    const std::initializer_list<GumboTag> rowContext {GUMBO_TAG_TR, GUMBO_TAG_TEMPLATE, GUMBO_TAG_HTML};
    const std::initializer_list<GumboTag> bodyContext {GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT,
        GUMBO_TAG_TEMPLATE, GUMBO_TAG_HTML};
    const std::initializer_list<GumboTag> tableContext {GUMBO_TAG_TABLE, GUMBO_TAG_TEMPLATE, GUMBO_TAG_HTML};
    if (mode == Mode::Row) {
        if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) {
            popUntilCurrentIn(rowContext);
            insert();
            pushMarker();
            return false;
        }
        if (isTablePart(tag)) {
            if (!tagInScope(GUMBO_TAG_TR, Scope::Table))
                return false;
            popUntilCurrentIn(rowContext);
            stack_.pop();
            return true;
        }
    } else if (mode == Mode::TableBody) {
        if (tag == GUMBO_TAG_TR) {
            popUntilCurrentIn(bodyContext);
            insert();
            return false;
        }
        if (tag == GUMBO_TAG_TD || tag == GUMBO_TAG_TH) {
            popUntilCurrentIn(bodyContext);
            insertHtml(GUMBO_TAG_TR, "tr");
            return true;
        }
        if (isTablePart(tag)) {
            if (!inScope(topmostOf({GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT}), Scope::Table))
                return false;
            popUntilCurrentIn(bodyContext);
            stack_.pop();
            return true;
        }
    }
    switch (tag) {
    case GUMBO_TAG_CAPTION:
        popUntilCurrentIn(tableContext);
        pushMarker();
        insert();
        return false;
    case GUMBO_TAG_COLGROUP:
        popUntilCurrentIn(tableContext);
        insert();
        return false;
    case GUMBO_TAG_COL:
        popUntilCurrentIn(tableContext);
        insertHtml(GUMBO_TAG_COLGROUP, "colgroup");
        return true;
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_THEAD:
        popUntilCurrentIn(tableContext);
        insert();
        return false;
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
    case GUMBO_TAG_TR:
        popUntilCurrentIn(tableContext);
        insertHtml(GUMBO_TAG_TBODY, "tbody");
        return true;
    case GUMBO_TAG_TABLE:
        if (!tagInScope(GUMBO_TAG_TABLE, Scope::Table))
            return false;
        popUntilTag(GUMBO_TAG_TABLE);
        return true;
    case GUMBO_TAG_INPUT:
        if (isHiddenInput(token))
            return false;
        return startTagInBody(token, outcome);
    case GUMBO_TAG_FORM:
        if (!form_ && stack_.topmost(GUMBO_TAG_TEMPLATE) == Stack::none) {
            form_ = insertHtml(GUMBO_TAG_FORM, "form");
            stack_.pop();
        }
        return false;
    default:
        // Everything else lands in front of the table, but opens on the stack all the same.
        return startTagInBody(token, outcome);
    }
}

bool HtmlTreeBuilderModel::startTagInSelect(const HtmlTagToken& token, StartTagOutcome& outcome, bool inTable)
{
    const GumboTag tag = token.tag;
    const auto selectInScope = [this] {
        for (int i = stack_.size() - 1; i >= 0; --i) {
            const Element& element = stack_.at(i);
            if (element.ns == Namespace::Html && element.tag == GUMBO_TAG_SELECT)
                return true;
            if (element.ns != Namespace::Html
                || (element.tag != GUMBO_TAG_OPTION && element.tag != GUMBO_TAG_OPTGROUP))
                return false;
        }
        return false;
    };
    if (inTable
        && isOneOf(tag, {GUMBO_TAG_CAPTION, GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD,
                            GUMBO_TAG_TR, GUMBO_TAG_TD, GUMBO_TAG_TH})) {
        popUntilTag(GUMBO_TAG_SELECT);
        return true;
    }
    switch (tag) {
    case GUMBO_TAG_OPTION:
        if (currentIs(GUMBO_TAG_OPTION))
            stack_.pop();
        insertHtml(tag, token.name);
        pushedForToken_ = true;
        return false;
    case GUMBO_TAG_OPTGROUP:
        if (currentIs(GUMBO_TAG_OPTION))
            stack_.pop();
        if (currentIs(GUMBO_TAG_OPTGROUP))
            stack_.pop();
        insertHtml(tag, token.name);
        pushedForToken_ = true;
        return false;
    case GUMBO_TAG_SELECT:
        if (selectInScope())
            popUntilTag(GUMBO_TAG_SELECT);
        return false;
    case GUMBO_TAG_INPUT:
    case GUMBO_TAG_KEYGEN:
    case GUMBO_TAG_TEXTAREA:
        if (!selectInScope())
            return false;
        popUntilTag(GUMBO_TAG_SELECT);
        return true;
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_TEMPLATE:
        return startTagInBody(token, outcome);
    default:
        return false;   // ignored inside a select
    }
}

void HtmlTreeBuilderModel::endTag(const HtmlTagToken& token)
{
    if (inFrameset_) {
        if (token.tag == GUMBO_TAG_FRAMESET && stack_.size() > 1)
            stack_.pop();
        return;
    }
    if (stack_.current().ns == Namespace::Html && inHead() && endTagInHead(token))
        return;
    if (stack_.current().ns != Namespace::Html && endTagInForeignContent(token))
        return;
    for (int pass = 0; pass < 8; ++pass) {
        bool again = false;
        switch (const Mode m = mode()) {
        case Mode::Body:
            again = endTagInBody(token);
            break;
        case Mode::Template:
            if (token.tag == GUMBO_TAG_TEMPLATE)
                again = endTagInBody(token);
            break;
        case Mode::Cell:
            if (token.tag == GUMBO_TAG_TD || token.tag == GUMBO_TAG_TH) {
                if (tagInScope(token.tag, Scope::Table)) {
                    popUntilTag(token.tag);
                    clearToLastMarker();
                }
            } else if (isOneOf(token.tag, {GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD,
                                              GUMBO_TAG_TR})) {
                if (tagInScope(token.tag, Scope::Table)) {
                    closeCell();
                    again = true;
                }
            } else if (!isOneOf(token.tag, {GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP,
                                               GUMBO_TAG_HTML})) {
                again = endTagInBody(token);
            }
            break;
        case Mode::Caption:
            if (token.tag == GUMBO_TAG_CAPTION || token.tag == GUMBO_TAG_TABLE) {
                if (tagInScope(GUMBO_TAG_CAPTION, Scope::Table)) {
                    popUntilTag(GUMBO_TAG_CAPTION);
                    clearToLastMarker();
                    again = token.tag == GUMBO_TAG_TABLE;
                }
            } else if (!isTablePart(token.tag) && token.tag != GUMBO_TAG_BODY && token.tag != GUMBO_TAG_HTML) {
                again = endTagInBody(token);
            }
            break;
        case Mode::Table:
        case Mode::TableBody:
        case Mode::Row:
            again = endTagInTable(token, m);
            break;
        case Mode::ColumnGroup:
            if (token.tag == GUMBO_TAG_COLGROUP) {
                if (currentIs(GUMBO_TAG_COLGROUP))
                    stack_.pop();
            } else if (token.tag == GUMBO_TAG_TEMPLATE) {
                again = endTagInBody(token);
            } else if (token.tag != GUMBO_TAG_COL && currentIs(GUMBO_TAG_COLGROUP)) {
                stack_.pop();
                again = true;
            }
            break;
        case Mode::Select:
        case Mode::SelectInTable:
            again = endTagInSelect(token, m == Mode::SelectInTable);
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
    const int html = stack_.topmostIn(Stack::HtmlElement);
    int found = Stack::none;
    for (const Namespace ns : {Namespace::Svg, Namespace::MathMl}) {
        int position = Stack::none;
        if (token.tag != GUMBO_TAG_UNKNOWN) {
            position = stack_.topmost(token.tag, ns);
        } else {
            lowered_.assign(token.name);
            for (char& c : lowered_)
                c = lowerAscii(c);
            const auto it = names_.find(lowered_);
            if (it != names_.end())
                position = stack_.topmostNamed(it->second, ns);
        }
        found = std::max(found, position);
    }
    if (found == Stack::none || found < html)
        return false;
    stack_.popFrom(found);
    return true;
}

bool HtmlTreeBuilderModel::endTagInBody(const HtmlTagToken& token)
{
    const GumboTag tag = token.tag;
    if (isBlockEndTag(tag)) {
        if (tagInScope(tag, Scope::Default))
            popUntilTag(tag);
        return false;
    }
    if (isHeading(tag)) {
        const int open = stack_.topmostIn(Stack::Heading);
        if (inScope(open, Scope::Default))
            stack_.popFrom(open);
        return false;
    }
    if (isFormatting(tag)) {
        adoptionAgency(token);
        return false;
    }
    switch (tag) {
    case GUMBO_TAG_TEMPLATE:
        if (stack_.topmost(GUMBO_TAG_TEMPLATE) != Stack::none) {
            popUntilTag(GUMBO_TAG_TEMPLATE);
            clearToLastMarker();
            // Resetting the mode, a select it was in counts as in a table only with a table
            // nearer than any template.
            const int select = stack_.topmostIn(Stack::ModeElement);
            if (select != Stack::none && stack_.at(select).tag == GUMBO_TAG_SELECT) {
                const bool inTable = stack_.topmost(GUMBO_TAG_TABLE) > stack_.topmost(GUMBO_TAG_TEMPLATE);
                stack_.at(select).contentMode = std::uint8_t(inTable ? Mode::SelectInTable : Mode::Select);
            }
        }
        return false;
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_HTML:
        return false;
    case GUMBO_TAG_FORM:
        if (stack_.topmost(GUMBO_TAG_TEMPLATE) == Stack::none) {
            const std::optional<std::uint32_t> node = form_;
            form_.reset();
            const int position = node ? stack_.positionOf(*node) : Stack::none;
            if (!inScope(position, Scope::Default))
                return false;
            generateImpliedEndTags(GUMBO_TAG_LAST);
            // Only the form goes; what is open inside it stays open.
            stack_.removeAt(stack_.positionOf(*node));
        } else if (tagInScope(GUMBO_TAG_FORM, Scope::Default)) {
            popUntilTag(GUMBO_TAG_FORM);
        }
        return false;
    case GUMBO_TAG_P:
        if (tagInScope(GUMBO_TAG_P, Scope::Button))
            popUntilTag(GUMBO_TAG_P);
        return false;
    case GUMBO_TAG_LI:
        if (tagInScope(GUMBO_TAG_LI, Scope::ListItem))
            popUntilTag(GUMBO_TAG_LI);
        return false;
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DT:
        if (tagInScope(tag, Scope::Default))
            popUntilTag(tag);
        return false;
    case GUMBO_TAG_APPLET:
    case GUMBO_TAG_MARQUEE:
    case GUMBO_TAG_OBJECT:
        // gumbo looks for these in table scope, past other applets, marquees and objects.
        if (tagInScope(tag, Scope::Table)) {
            popUntilTag(tag);
            clearToLastMarker();
        }
        return false;
    case GUMBO_TAG_BR:
        reconstructFormatting();   // read as <br>
        return false;
    default:
        anyOtherEndTag(token);
        return false;
    }
}

void HtmlTreeBuilderModel::anyOtherEndTag(const HtmlTagToken& token)
{
    // gumbo tells elements apart by tag alone here: the end tag of any element it has no tag
    // for closes the topmost such element, whatever its name.
    const int position = token.tag == GUMBO_TAG_UNKNOWN ? stack_.topmostIn(Stack::UnknownHtmlElement)
                                                        : stack_.topmost(token.tag);
    // A special element above it shields it from the end tag.
    if (position == Stack::none || stack_.topmostIn(Stack::Special) > position)
        return;
    stack_.popFrom(position);
}

bool HtmlTreeBuilderModel::endTagInTable(const HtmlTagToken& token, Mode mode)
{
    const GumboTag tag = token.tag;
    const std::initializer_list<GumboTag> rowContext {GUMBO_TAG_TR, GUMBO_TAG_TEMPLATE, GUMBO_TAG_HTML};
    const std::initializer_list<GumboTag> bodyContext {GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT,
        GUMBO_TAG_TEMPLATE, GUMBO_TAG_HTML};
    if (mode == Mode::Row) {
        if (tag == GUMBO_TAG_TR || tag == GUMBO_TAG_TABLE
            || isOneOf(tag, {GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD})) {
            if (tag != GUMBO_TAG_TR && tag != GUMBO_TAG_TABLE && !tagInScope(tag, Scope::Table))
                return false;
            if (!tagInScope(GUMBO_TAG_TR, Scope::Table))
                return false;
            popUntilCurrentIn(rowContext);
            stack_.pop();
            return tag != GUMBO_TAG_TR;
        }
        if (isOneOf(tag, {GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML,
                             GUMBO_TAG_TD, GUMBO_TAG_TH}))
            return false;
    } else if (mode == Mode::TableBody) {
        if (isOneOf(tag, {GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD})) {
            if (tagInScope(tag, Scope::Table)) {
                popUntilCurrentIn(bodyContext);
                stack_.pop();
            }
            return false;
        }
        if (tag == GUMBO_TAG_TABLE) {
            if (!inScope(topmostOf({GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT}), Scope::Table))
                return false;
            popUntilCurrentIn(bodyContext);
            stack_.pop();
            return true;
        }
        if (isOneOf(tag, {GUMBO_TAG_BODY, GUMBO_TAG_CAPTION, GUMBO_TAG_COL, GUMBO_TAG_COLGROUP, GUMBO_TAG_HTML,
                             GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_TR}))
            return false;
    }
    if (tag == GUMBO_TAG_TABLE) {
        if (tagInScope(GUMBO_TAG_TABLE, Scope::Table))
            popUntilTag(GUMBO_TAG_TABLE);
        return false;
    }
    if (tag == GUMBO_TAG_BODY || tag == GUMBO_TAG_HTML || isTablePart(tag))
        return false;
    return endTagInBody(token);
}

bool HtmlTreeBuilderModel::endTagInSelect(const HtmlTagToken& token, bool inTable)
{
    const GumboTag tag = token.tag;
    if (inTable
        && isOneOf(tag, {GUMBO_TAG_CAPTION, GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD,
                            GUMBO_TAG_TR, GUMBO_TAG_TD, GUMBO_TAG_TH})) {
        if (!tagInScope(tag, Scope::Table))
            return false;
        popUntilTag(GUMBO_TAG_SELECT);
        return true;
    }
    switch (tag) {
    case GUMBO_TAG_OPTGROUP:
        if (currentIs(GUMBO_TAG_OPTION) && stack_.size() > 1) {
            const Element& previous = stack_.at(stack_.size() - 2);
            if (previous.ns == Namespace::Html && previous.tag == GUMBO_TAG_OPTGROUP)
                stack_.pop();
        }
        if (currentIs(GUMBO_TAG_OPTGROUP))
            stack_.pop();
        return false;
    case GUMBO_TAG_OPTION:
        if (currentIs(GUMBO_TAG_OPTION))
            stack_.pop();
        return false;
    case GUMBO_TAG_SELECT:
        for (int i = stack_.size() - 1; i >= 0; --i) {
            const Element& element = stack_.at(i);
            if (element.ns == Namespace::Html && element.tag == GUMBO_TAG_SELECT) {
                stack_.popFrom(i);
                break;
            }
            if (element.ns != Namespace::Html
                || (element.tag != GUMBO_TAG_OPTION && element.tag != GUMBO_TAG_OPTGROUP))
                break;
        }
        return false;
    case GUMBO_TAG_TEMPLATE:
        return endTagInBody(token);
    default:
        return false;
    }
}

void HtmlTreeBuilderModel::text(bool whitespace)
{
    if (inFrameset_)
        return;
    if (inHead()) {
        if (whitespace)
            return;
        if (head_ == Head::InNoscript)
            stack_.pop();
        head_ = Head::Over;
    }
    if (!whitespace)
        framesetOk_ = false;
    HtmlTagToken token;
    token.kind = HtmlTagToken::Kind::Text;
    if (!useHtmlRules(token))
        return;
    switch (mode()) {
    case Mode::Select:
    case Mode::SelectInTable:
        return;
    case Mode::ColumnGroup:
        if (!whitespace && currentIs(GUMBO_TAG_COLGROUP)) {
            stack_.pop();
            reconstructFormatting();
        }
        return;
    case Mode::Table:
    case Mode::TableBody:
    case Mode::Row:
        if (whitespace
            && currentIsOneOf({GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_TFOOT, GUMBO_TAG_THEAD, GUMBO_TAG_TR}))
            return;
        reconstructFormatting();
        return;
    default:
        reconstructFormatting();
        return;
    }
}
