#pragma once

// PUBLIC CONTRACT (used by MarkdownConverter and the selectors): keep these signatures. How a
// node is stored is HtmlDocument's business.

#include <QString>
#include <QStringList>
#include <QStringView>

#include <gumbo.h>

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <vector>

class CssSelector;

// One attribute of an element: the name in lower case, the value as written (entities
// decoded). Both view the document's text and stay valid as long as the document.
struct HtmlAttribute {
    QStringView name;
    QStringView value;
};

// One node of a parsed page: an element (tag, attributes, children) or a text node (its whole
// text). The document keeps its nodes in one array in document order, so a node's subtree as
// parsed is the run of nodes that starts at the node itself, and its children are found by
// stepping over their subtrees; names, texts and values are views into one buffer. Nodes
// stay valid until their document is destroyed, also after remove().
class HtmlNode {
public:
    class ChildRange;

    bool isElement() const { return kind_ == Kind::Element; }
    bool isText() const { return kind_ == Kind::Text; }
    HtmlNode* parent() const;

    // Text nodes: the whole text, unchanged (whitespace kept). Empty for elements.
    QStringView wholeText() const;

    // Elements: lower-case tag name ("" for text nodes).
    const QString& tagName() const;
    // Elements: the tag the name stands for among those the HTML parser knows, else
    // GUMBO_TAG_UNKNOWN (also for text nodes).
    GumboTag tag() const { return GumboTag(tag_); }
    bool hasAttr(const QString& name) const;
    // The attribute's value, or "" when absent.
    QString attr(const QString& name) const;
    // The value of the attribute named `lowerName` (in lower case) without a copy; empty when
    // absent.
    QStringView attrView(QStringView lowerName) const;
    // The "class" attribute split at whitespace.
    QStringList classNames() const;
    // Elements: the attributes in source order.
    std::span<const HtmlAttribute> attributes() const { return {attrs_, isElement() ? count_ : 0}; }

    // Child nodes in document order (elements and text nodes).
    ChildRange childNodes() const;
    std::vector<HtmlNode*> childElements() const;

    // All descendant text, whitespace runs collapsed to one blank, a separating blank at
    // "br" and block boundaries, trimmed.
    QString text() const;

    // Elements matching the selector in document order, this element included when it
    // matches. The string forms parse the selector (throw SelectorError when malformed).
    std::vector<HtmlNode*> select(const CssSelector& selector) const;
    std::vector<HtmlNode*> select(const QString& selector) const;
    HtmlNode* selectFirst(const CssSelector& selector) const;   // nullptr when none
    HtmlNode* selectFirst(const QString& selector) const;

    // Detaches this node from its parent; it and its subtree stay alive but are no longer
    // part of the tree.
    void remove();

private:
    friend class HtmlDocument;
    friend class HtmlTreeBuilder;
    friend class CssSelector;
    HtmlNode() = default;

    enum class Kind : std::uint8_t { Element, Text };
    enum Flag : std::uint8_t {
        BlockFlag = 1,      // a separating blank around it in text()
        BreakFlag = 2,      // "br"
        RawTextFlag = 4,    // "script"/"style": its text is no readable text
        DetachedFlag = 8,   // removed from its parent
    };

    const HtmlAttribute* findAttr(QStringView lowerName) const;
    void appendText(QString& out, bool& pendingBlank) const;
    // The first node from `n` on (stepping over whole subtrees) that is still attached, or `end`.
    static const HtmlNode* attached(const HtmlNode* n, const HtmlNode* end);

    template <typename Visit>
    static void walkElements(const HtmlNode* root, Visit&& visit);
    // The elements of root's subtree that match within `scope` (nullptr: the whole tree).
    static std::vector<HtmlNode*> selectUnder(const HtmlNode* root, const CssSelector& selector, const HtmlNode* scope);
    static HtmlNode* selectFirstUnder(const HtmlNode* root, const CssSelector& selector, const HtmlNode* scope);

    union {
        const QString* name_ = nullptr;   // elements
        const QChar* text_;               // text nodes
    };
    const HtmlAttribute* attrs_ = nullptr;
    std::uint32_t parentOffset_ = 0;   // how many nodes before this one its parent is; 0: none
    std::uint32_t subtreeSize_ = 1;    // this node and its descendants as parsed
    std::uint32_t count_ = 0;          // elements: attributes; text nodes: text length
    std::uint16_t tag_ = GUMBO_TAG_UNKNOWN;
    Kind kind_ = Kind::Element;
    std::uint8_t flags_ = 0;
};

// The children of a node, stepped through in document order; a removed child is passed
// over. Counting and indexing walk the list.
class HtmlNode::ChildRange {
public:
    class iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = HtmlNode*;
        using difference_type = std::ptrdiff_t;
        using pointer = HtmlNode* const*;
        using reference = HtmlNode*;

        iterator() = default;
        HtmlNode* operator*() const { return const_cast<HtmlNode*>(node_); }
        iterator& operator++()
        {
            node_ = HtmlNode::attached(node_ + node_->subtreeSize_, end_);
            return *this;
        }
        iterator operator++(int)
        {
            iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const iterator& other) const { return node_ == other.node_; }

    private:
        friend class ChildRange;
        iterator(const HtmlNode* node, const HtmlNode* end) : node_(node), end_(end) {}
        const HtmlNode* node_ = nullptr;
        const HtmlNode* end_ = nullptr;
    };

    iterator begin() const { return {HtmlNode::attached(first_, end_), end_}; }
    iterator end() const { return {end_, end_}; }
    bool empty() const { return begin() == end(); }
    std::size_t size() const { return std::size_t(std::distance(begin(), end())); }
    HtmlNode* operator[](std::size_t index) const { return *std::next(begin(), std::ptrdiff_t(index)); }
    // Throws std::out_of_range past the last child.
    HtmlNode* at(std::size_t index) const;

private:
    friend class HtmlNode;
    ChildRange(const HtmlNode* first, const HtmlNode* end) : first_(first), end_(end) {}
    const HtmlNode* first_;
    const HtmlNode* end_;
};

inline HtmlNode* HtmlNode::parent() const
{
    return parentOffset_ ? const_cast<HtmlNode*>(this - parentOffset_) : nullptr;
}

inline const HtmlNode* HtmlNode::attached(const HtmlNode* n, const HtmlNode* end)
{
    while (n < end && (n->flags_ & DetachedFlag))
        n += n->subtreeSize_;
    return n;
}

inline HtmlNode::ChildRange HtmlNode::childNodes() const
{
    return {this + 1, this + subtreeSize_};
}

inline QStringView HtmlNode::wholeText() const
{
    return isText() ? QStringView(text_, count_) : QStringView();
}

// A linear scan of the node array, jumping over the subtrees removed since parsing: much
// cheaper than chasing child lists, and no stack at all.
template <typename Visit>
inline void HtmlNode::walkElements(const HtmlNode* root, Visit&& visit)
{
    const HtmlNode* end = root + root->subtreeSize_;
    for (const HtmlNode* n = root; n < end;) {
        if (n != root && (n->flags_ & DetachedFlag)) {
            n += n->subtreeSize_;
            continue;
        }
        if (n->kind_ == Kind::Element && !visit(n))
            return;
        ++n;
    }
}
