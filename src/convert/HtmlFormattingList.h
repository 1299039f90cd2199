#pragma once

#include "convert/HtmlOpenElementStack.h"

#include <gumbo.h>

#include <cstdint>
#include <string_view>
#include <vector>

struct HtmlTagToken;

// The tree builder's list of active formatting elements (b, i, a, ...) over its stack of open
// elements: what it opens anew in each block a formatting element was left open in, and how
// it untangles misnested end tags (the adoption agency), as gumbo 0.10.1 does both.
class HtmlFormattingList {
public:
    explicit HtmlFormattingList(HtmlOpenElementStack& stack);

    void pushMarker();
    // Removes the entries back to and including the last marker.
    void clearToLastMarker();

    // Pushes the token's element and enters it; of identical elements (same tag and
    // attributes) since the last marker, at most three stay in the list. Returns its id.
    std::uint32_t insert(const HtmlTagToken& token);
    // Opens anew the entries after the last open one; returns how many elements that made.
    std::size_t reconstruct();
    // The end tag of a formatting element.
    void adoptionAgency(GumboTag subject);
    // Before an a opens inside an open a: the open one is closed and leaves the list and stack.
    void closeOpenAnchor();

private:
    struct Entry {
        bool marker = false;
        GumboTag tag = GUMBO_TAG_UNKNOWN;
        std::string_view attributes;   // as written, to tell identical elements apart
        std::uint32_t element = 0;     // id of the element on the stack
    };

    int lastAfterMarker(GumboTag tag) const;
    int entryOf(std::uint32_t element) const;
    void remove(int index);

    HtmlOpenElementStack& stack_;
    std::vector<Entry> entries_;
};
