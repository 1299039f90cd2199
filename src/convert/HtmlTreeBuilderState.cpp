#include "convert/HtmlTreeBuilderState.h"

#include "convert/HtmlTagGroups.h"

namespace {

using Stack = HtmlOpenElementStack;
using Groups = HtmlTagGroups;

} // namespace

HtmlTreeBuilderState::HtmlTreeBuilderState()
{
    // html and body are there from the start; the head comes and goes before the body, at
    // the body's depth.
    insertHtml(GUMBO_TAG_HTML, "html");
    insertHtml(GUMBO_TAG_BODY, "body");
}

std::uint32_t HtmlTreeBuilderState::internName(std::string_view name)
{
    std::string key = HtmlTagScanner::lowered(name);
    const auto it = names_.find(key);
    if (it != names_.end())
        return it->second;
    const auto id = std::uint32_t(names_.size());
    names_.emplace(std::move(key), id);
    return id;
}

std::optional<std::uint32_t> HtmlTreeBuilderState::knownName(std::string_view name) const
{
    const auto it = names_.find(HtmlTagScanner::lowered(name));
    return it == names_.end() ? std::nullopt : std::optional<std::uint32_t>(it->second);
}

HtmlTreeBuilderState::Mode HtmlTreeBuilderState::mode() const
{
    const int position = stack.topmostIn(Stack::ModeElement);
    if (position == Stack::none)
        return Mode::Body;
    switch (stack.at(position).tag) {
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
        // A select or a template keeps the mode its content is read in.
        return Mode(stack.at(position).contentMode);
    }
}

bool HtmlTreeBuilderState::inHead() const
{
    // A template in the head reads its content by the template rules.
    return head != Head::Over && stack.topmost(GUMBO_TAG_TEMPLATE) == Stack::none;
}

std::uint32_t HtmlTreeBuilderState::insertHtml(GumboTag tag, std::string_view name, bool forToken)
{
    Element element;
    element.tag = tag;
    element.name = tag == GUMBO_TAG_UNKNOWN ? internName(name) : 0;
    element.ns = Namespace::Html;
    element.groups = Groups::htmlGroups(tag);
    if (tag == GUMBO_TAG_UNKNOWN)
        element.groups |= Stack::UnknownHtmlElement;
    if (forToken)
        pushedForToken = true;
    return stack.push(element);
}

void HtmlTreeBuilderState::insertForeign(const HtmlTagToken& token, Namespace ns)
{
    Element element;
    element.ns = ns;
    element.tag = token.tag;
    element.name = token.tag == GUMBO_TAG_UNKNOWN ? internName(token.name) : 0;
    const auto integration = std::uint16_t(Stack::ScopeBoundary | Stack::Special | Stack::SpecialBlock);
    if (ns == Namespace::Svg && Groups::isOneOf(token.tag, {GUMBO_TAG_FOREIGNOBJECT, GUMBO_TAG_DESC, GUMBO_TAG_TITLE})) {
        element.groups = integration | Stack::HtmlIntegrationPoint;
    } else if (ns == Namespace::MathMl
        && Groups::isOneOf(token.tag, {GUMBO_TAG_MI, GUMBO_TAG_MO, GUMBO_TAG_MN, GUMBO_TAG_MS, GUMBO_TAG_MTEXT})) {
        element.groups = integration | Stack::TextIntegrationPoint;
    } else if (ns == Namespace::MathMl && token.tag == GUMBO_TAG_ANNOTATION_XML) {
        element.groups = integration;
        const std::string encoding = HtmlTagScanner::lowered(HtmlTagScanner::attribute(token.attributes, "encoding"));
        if (encoding == "text/html" || encoding == "application/xhtml+xml")
            element.groups |= Stack::HtmlIntegrationPoint;
    }
    if (token.selfClosing)
        return;   // opened and closed at once
    stack.push(element);
    pushedForToken = true;
}

void HtmlTreeBuilderState::insertFormatting(const HtmlTagToken& token)
{
    formatting.insert(token);
    pushedForToken = true;
}

void HtmlTreeBuilderState::reconstructFormatting()
{
    reconstructed += formatting.reconstruct();
}

void HtmlTreeBuilderState::closePInButtonScope()
{
    if (stack.tagInScope(GUMBO_TAG_P, Scope::Button))
        stack.popUntilTag(GUMBO_TAG_P);
}

void HtmlTreeBuilderState::closeCell()
{
    stack.popFrom(stack.topmostOf({GUMBO_TAG_TD, GUMBO_TAG_TH}));
    formatting.clearToLastMarker();
}
