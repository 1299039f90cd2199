#include "convert/HtmlOpenElementStack.h"

#include "convert/HtmlTagGroups.h"

#include <algorithm>
#include <bit>

namespace {

int last(const std::vector<int>& positions)
{
    return positions.empty() ? HtmlOpenElementStack::none : positions.back();
}

} // namespace

int HtmlOpenElementStack::topmost(GumboTag tag, Namespace ns) const
{
    return tag == GUMBO_TAG_UNKNOWN ? none : last(tagPositions_[int(ns)][tag]);
}

int HtmlOpenElementStack::topmostNamed(std::uint32_t name, Namespace ns) const
{
    const auto& byName = namePositions_[int(ns)];
    return name < byName.size() ? last(byName[name]) : none;
}

int HtmlOpenElementStack::topmostIn(Group group) const
{
    return last(groupPositions_[std::countr_zero(unsigned(group))]);
}

int HtmlOpenElementStack::firstAbove(Group group, int position) const
{
    // Positions of a group are kept in increasing order.
    const std::vector<int>& positions = groupPositions_[std::countr_zero(unsigned(group))];
    const auto it = std::upper_bound(positions.begin(), positions.end(), position);
    return it == positions.end() ? none : *it;
}

int HtmlOpenElementStack::positionOf(std::uint32_t id) const
{
    return id < positionOfId_.size() ? positionOfId_[id] : none;
}

std::vector<int>& HtmlOpenElementStack::positionsOf(const Element& element)
{
    if (element.tag != GUMBO_TAG_UNKNOWN)
        return tagPositions_[int(element.ns)][element.tag];
    auto& byName = namePositions_[int(element.ns)];
    if (element.name >= byName.size())
        byName.resize(element.name + 1);
    return byName[element.name];
}

void HtmlOpenElementStack::index(const Element& element, int position)
{
    positionsOf(element).push_back(position);
    for (unsigned groups = element.groups; groups != 0; groups &= groups - 1)
        groupPositions_[std::countr_zero(groups)].push_back(position);
    positionOfId_[element.id] = position;
}

void HtmlOpenElementStack::unindex(const Element& element)
{
    positionsOf(element).pop_back();
    for (unsigned groups = element.groups; groups != 0; groups &= groups - 1)
        groupPositions_[std::countr_zero(groups)].pop_back();
    positionOfId_[element.id] = none;
}

std::uint32_t HtmlOpenElementStack::push(Element element)
{
    element.id = std::uint32_t(positionOfId_.size());
    positionOfId_.push_back(none);
    elements_.push_back(element);
    index(elements_.back(), size() - 1);
    return element.id;
}

void HtmlOpenElementStack::pop()
{
    unindex(elements_.back());
    elements_.pop_back();
    ++removals_;
}

void HtmlOpenElementStack::popFrom(int position)
{
    while (size() > position)
        pop();
}

// A change in the middle re-indexes what lies above it; the tree builder does this only in
// its rare repairs of misnested markup.
void HtmlOpenElementStack::removeAt(int position)
{
    moved_.assign(elements_.begin() + position + 1, elements_.end());
    while (size() > position) {
        unindex(elements_.back());
        elements_.pop_back();
    }
    ++removals_;
    for (const Element& element : moved_) {
        elements_.push_back(element);
        index(elements_.back(), size() - 1);
    }
}

std::uint32_t HtmlOpenElementStack::insertAt(int position, Element element)
{
    moved_.assign(elements_.begin() + position, elements_.end());
    while (size() > position) {
        unindex(elements_.back());
        elements_.pop_back();
    }
    const std::uint32_t id = push(element);
    for (const Element& moved : moved_) {
        elements_.push_back(moved);
        index(elements_.back(), size() - 1);
    }
    return id;
}

std::uint32_t HtmlOpenElementStack::replaceAt(int position)
{
    Element& element = elements_[std::size_t(position)];
    positionOfId_[element.id] = none;
    element.id = std::uint32_t(positionOfId_.size());
    positionOfId_.push_back(position);
    return element.id;
}

int HtmlOpenElementStack::topmostOf(std::initializer_list<GumboTag> tags) const
{
    int position = none;
    for (GumboTag tag : tags)
        position = std::max(position, topmost(tag));
    return position;
}

bool HtmlOpenElementStack::inScope(int position, Scope scope) const
{
    if (position == none)
        return false;
    int boundary = topmostIn(ScopeBoundary);
    switch (scope) {
    case Scope::Default:
        break;
    case Scope::ListItem:
        boundary = std::max(boundary, topmostIn(ListScopeBoundary));
        break;
    case Scope::Button:
        boundary = std::max(boundary, topmostIn(ButtonScopeBoundary));
        break;
    case Scope::Table:
        boundary = topmostIn(TableScopeBoundary);
        break;
    }
    return position >= boundary;
}

bool HtmlOpenElementStack::tagInScope(GumboTag tag, Scope scope) const
{
    return inScope(topmost(tag), scope);
}

bool HtmlOpenElementStack::currentIs(GumboTag tag) const
{
    return current().ns == Namespace::Html && current().tag == tag;
}

bool HtmlOpenElementStack::currentIsOneOf(std::initializer_list<GumboTag> tags) const
{
    return current().ns == Namespace::Html && HtmlTagGroups::isOneOf(current().tag, tags);
}

void HtmlOpenElementStack::popUntilTag(GumboTag tag)
{
    const int position = topmost(tag);
    if (position != none)
        popFrom(position);
}

void HtmlOpenElementStack::popUntilCurrentIn(std::initializer_list<GumboTag> tags)
{
    while (size() > 1 && !currentIsOneOf(tags))
        pop();
}

void HtmlOpenElementStack::generateImpliedEndTags(GumboTag except)
{
    while (size() > 1 && current().tag != except
        && currentIsOneOf({GUMBO_TAG_DD, GUMBO_TAG_DT, GUMBO_TAG_LI, GUMBO_TAG_OPTGROUP, GUMBO_TAG_OPTION,
            GUMBO_TAG_P, GUMBO_TAG_RB, GUMBO_TAG_RP, GUMBO_TAG_RT, GUMBO_TAG_RTC}))
        pop();
}
