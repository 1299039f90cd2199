#pragma once

#include <gumbo.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

// The HTML tree builder's stack of open elements, as far as its depth depends on it: each
// element's tag, namespace and the groups the tree builder's rules test. The position of the
// topmost element of every tag and of every group is kept at hand, so the scope tests the
// tree builder makes for nearly every token cost the same at any depth.
class HtmlOpenElementStack {
public:
    enum class Namespace : std::uint8_t { Html, Svg, MathMl };

    enum Group : std::uint16_t {
        ScopeBoundary = 1 << 0,         // ends an "in scope" search
        ListScopeBoundary = 1 << 1,     // ol, ul: also end a "list item scope" search
        ButtonScopeBoundary = 1 << 2,   // button: also ends a "button scope" search
        TableScopeBoundary = 1 << 3,    // html, table, template
        Special = 1 << 4,
        SpecialBlock = 1 << 5,          // special but address, div and p: ends the search for an open li, dd, dt
        Heading = 1 << 6,
        HtmlElement = 1 << 7,
        ModeElement = 1 << 8,           // elements that decide the insertion mode
        HtmlIntegrationPoint = 1 << 9,
        TextIntegrationPoint = 1 << 10,
        UnknownHtmlElement = 1 << 11,   // HTML elements gumbo has no tag for
    };
    static constexpr int kGroupCount = 12;

    struct Element {
        // gumbo's tag for the name (also for foreign elements), GUMBO_TAG_UNKNOWN for others,
        // which are told apart by their interned lower-case name.
        GumboTag tag = GUMBO_TAG_UNKNOWN;
        std::uint32_t name = 0;
        Namespace ns = Namespace::Html;
        std::uint16_t groups = 0;
        bool inFormattingList = false;
        // A template: the insertion mode its content is read in, as its first start tag decides.
        std::uint8_t contentMode = 0;
        std::uint32_t id = 0;   // given by the stack, unique among all elements pushed
    };

    enum class Scope { Default, ListItem, Button, Table };

    static constexpr int none = -1;

    int size() const { return int(elements_.size()); }
    const Element& at(int position) const { return elements_[std::size_t(position)]; }
    Element& at(int position) { return elements_[std::size_t(position)]; }
    const Element& current() const { return elements_.back(); }

    // Positions of the topmost element, or `none`.
    int topmost(GumboTag tag, Namespace ns = Namespace::Html) const;
    int topmostNamed(std::uint32_t name, Namespace ns) const;
    int topmostIn(Group group) const;
    // The lowest position above `position` of an element of the group, or `none`.
    int firstAbove(Group group, int position) const;
    // Where the element made with that id is now, or `none` once it was popped or removed.
    int positionOf(std::uint32_t id) const;
    // The topmost HTML element of any of these tags.
    int topmostOf(std::initializer_list<GumboTag> tags) const;

    // Whether no boundary of the scope lies above the element at `position` (the element may
    // itself be one: a table is in table scope).
    bool inScope(int position, Scope scope) const;
    bool tagInScope(GumboTag tag, Scope scope) const;
    bool currentIs(GumboTag tag) const;
    bool currentIsOneOf(std::initializer_list<GumboTag> tags) const;

    // Each returns the new element's id.
    std::uint32_t push(Element element);
    std::uint32_t insertAt(int position, Element element);
    // The same element made anew (as a clone), in the same place.
    std::uint32_t replaceAt(int position);
    void pop();
    // Pops the element at `position` and everything above it.
    void popFrom(int position);
    void removeAt(int position);
    // Pops up to and including the topmost HTML element of the tag, when there is one.
    void popUntilTag(GumboTag tag);
    // Pops until the current node is one of these (html always ends it).
    void popUntilCurrentIn(std::initializer_list<GumboTag> tags);
    // Pops the elements whose end tags the parser implies (p, li, option, ...) but `except`.
    void generateImpliedEndTags(GumboTag except = GUMBO_TAG_LAST);

    // How many elements were popped or removed so far.
    std::uint64_t removals() const { return removals_; }

private:
    std::vector<int>& positionsOf(const Element& element);
    void index(const Element& element, int position);
    void unindex(const Element& element);

    std::vector<Element> elements_;
    std::vector<int> groupPositions_[kGroupCount];
    std::vector<int> tagPositions_[3][GUMBO_TAG_LAST];
    std::vector<std::vector<int>> namePositions_[3];
    std::vector<int> positionOfId_;
    std::vector<Element> moved_;
    std::uint64_t removals_ = 0;
};
