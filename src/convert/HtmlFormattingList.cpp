#include "convert/HtmlFormattingList.h"

#include "convert/HtmlTagGroups.h"
#include "convert/HtmlTagScanner.h"

namespace {

using Stack = HtmlOpenElementStack;

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

} // namespace

HtmlFormattingList::HtmlFormattingList(HtmlOpenElementStack& stack)
    : stack_(stack)
{
}

void HtmlFormattingList::pushMarker()
{
    Entry marker;
    marker.marker = true;
    entries_.push_back(marker);
}

void HtmlFormattingList::remove(int index)
{
    const Entry& entry = entries_[std::size_t(index)];
    if (!entry.marker) {
        const int position = stack_.positionOf(entry.element);
        if (position != Stack::none)
            stack_.at(position).inFormattingList = false;
    }
    entries_.erase(entries_.begin() + index);
}

void HtmlFormattingList::clearToLastMarker()
{
    while (!entries_.empty()) {
        const bool marker = entries_.back().marker;
        remove(int(entries_.size()) - 1);
        if (marker)
            return;
    }
}

int HtmlFormattingList::lastAfterMarker(GumboTag tag) const
{
    for (int i = int(entries_.size()) - 1; i >= 0; --i) {
        const Entry& entry = entries_[std::size_t(i)];
        if (entry.marker)
            return -1;
        if (entry.tag == tag)
            return i;
    }
    return -1;
}

int HtmlFormattingList::entryOf(std::uint32_t element) const
{
    for (int i = int(entries_.size()) - 1; i >= 0; --i) {
        if (!entries_[std::size_t(i)].marker && entries_[std::size_t(i)].element == element)
            return i;
    }
    return -1;
}

std::uint32_t HtmlFormattingList::insert(const HtmlTagToken& token)
{
    const std::string_view attributes = trimmed(token.attributes);
    int identical = 0;
    int earliest = -1;
    for (int i = int(entries_.size()) - 1; i >= 0; --i) {
        const Entry& entry = entries_[std::size_t(i)];
        if (entry.marker)
            break;
        if (entry.tag == token.tag && entry.attributes == attributes) {
            ++identical;
            earliest = i;
        }
    }
    if (identical >= 3)
        remove(earliest);
    Stack::Element element;
    element.tag = token.tag;
    element.groups = HtmlTagGroups::htmlGroups(token.tag);
    element.inFormattingList = true;
    Entry entry;
    entry.tag = token.tag;
    entry.attributes = attributes;
    entry.element = stack_.push(element);
    entries_.push_back(entry);
    return entry.element;
}

std::size_t HtmlFormattingList::reconstruct()
{
    const auto open = [this](const Entry& entry) {
        return entry.marker || stack_.positionOf(entry.element) != Stack::none;
    };
    if (entries_.empty() || open(entries_.back()))
        return 0;
    std::size_t first = entries_.size() - 1;
    while (first > 0 && !open(entries_[first - 1]))
        --first;
    for (std::size_t i = first; i < entries_.size(); ++i) {
        Stack::Element element;
        element.tag = entries_[i].tag;
        element.groups = HtmlTagGroups::htmlGroups(element.tag);
        element.inFormattingList = true;
        entries_[i].element = stack_.push(element);
    }
    return entries_.size() - first;
}

void HtmlFormattingList::adoptionAgency(GumboTag subject)
{
    if (stack_.currentIs(subject) && !stack_.current().inFormattingList) {
        stack_.pop();
        return;
    }
    for (int outer = 0; outer < 8; ++outer) {
        int entryIndex = lastAfterMarker(subject);
        if (entryIndex < 0)
            return;   // gumbo then drops the end tag (it closes no other element of that name)
        const int position = stack_.positionOf(entries_[std::size_t(entryIndex)].element);
        if (position == Stack::none) {
            remove(entryIndex);
            return;
        }
        if (!stack_.inScope(position, Stack::Scope::Default))
            return;
        int furthestBlock = stack_.firstAbove(Stack::Special, position);
        if (furthestBlock == Stack::none) {
            stack_.popFrom(position);
            entries_.erase(entries_.begin() + entryIndex);
            return;
        }
        // Between the furthest block and the formatting element (gumbo walks all of them):
        // elements not in the list leave the stack, those in it are made anew.
        int bookmark = entryIndex;
        int node = furthestBlock;
        int lastNode = furthestBlock;
        for (;;) {
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
            entries_[std::size_t(nodeEntry)].element = stack_.replaceAt(node);
            if (lastNode == furthestBlock)
                bookmark = nodeEntry + 1;
            lastNode = node;
        }
        // The formatting element is made anew inside the furthest block.
        Entry entry = entries_[std::size_t(entryIndex)];
        const Stack::Element element = stack_.at(position);
        stack_.removeAt(position);
        --furthestBlock;
        entry.element = stack_.insertAt(furthestBlock + 1, element);
        entries_.erase(entries_.begin() + entryIndex);
        if (bookmark > entryIndex)
            --bookmark;
        entries_.insert(entries_.begin() + bookmark, entry);
    }
}

void HtmlFormattingList::closeOpenAnchor()
{
    if (lastAfterMarker(GUMBO_TAG_A) < 0)
        return;
    adoptionAgency(GUMBO_TAG_A);
    // Whatever a the list still holds goes from it and from the stack.
    const int entry = lastAfterMarker(GUMBO_TAG_A);
    if (entry < 0)
        return;
    const int position = stack_.positionOf(entries_[std::size_t(entry)].element);
    entries_.erase(entries_.begin() + entry);
    if (position != Stack::none)
        stack_.removeAt(position);
}
