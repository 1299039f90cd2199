#pragma once

// PUBLIC CONTRACT (used by MarkdownConverter): keep these signatures. The storage layout
// behind them (arena, string storage) is HtmlDocument's own business.

#include <QString>
#include <QStringList>

#include <QStringView>

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <vector>

class CssSelector;
class HtmlDocument;

// One attribute of an element: the name in lower case, the value as written (entities decoded).
struct HtmlAttribute {
    QString name;
    QString value;
};

class ParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One node of the compact DOM built from gumbo's HTML5 tree: an element (tag name,
// attributes, children) or a text node (its whole text). Nodes are owned by their document
// and stay valid until it is destroyed, also after remove().
class HtmlNode {
public:
    bool isElement() const;
    bool isText() const;
    HtmlNode* parent() const;

    // Text nodes: the whole text, unchanged (whitespace kept). Empty for elements.
    const QString& wholeText() const;

    // Elements: lower-case tag name ("" for text nodes).
    const QString& tagName() const;
    bool hasAttr(const QString& name) const;
    // The attribute's value, or "" when absent.
    QString attr(const QString& name) const;
    // The "class" attribute split at whitespace.
    QStringList classNames() const;
    // Elements: the attributes in source order.
    std::span<const HtmlAttribute> attributes() const;

    // Child nodes in document order (elements and text nodes).
    const std::vector<HtmlNode*>& childNodes() const;
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
    friend class CssSelector;
    friend struct HtmlTreeBuilder;
    HtmlNode() = default;

    enum class Kind : std::uint8_t { Element, Text };
    enum Flag : std::uint8_t {
        BlockFlag = 1,      // a separating blank around it in text()
        BreakFlag = 2,      // "br"
        RawTextFlag = 4,    // "script"/"style": its text is no readable text
        DetachedFlag = 8,   // removed from its parent
    };

    // The value of the attribute whose (already lower-case) name is `lowerName`, or nullptr.
    const QString* findAttr(QStringView lowerName) const;
    void appendText(QString& out, bool& pendingBlank) const;

    template <typename Visit>
    static void walkElements(const HtmlNode* root, Visit&& visit);

    HtmlNode* parent_ = nullptr;
    const HtmlAttribute* attrs_ = nullptr;
    std::vector<HtmlNode*> children_;
    QString str_;   // tag name of an element, whole text of a text node
    // The document keeps its nodes in one array in document order, so a node's subtree as
    // parsed is the run of this many nodes starting at the node itself.
    std::uint32_t subtreeSize_ = 1;
    std::uint32_t attrCount_ = 0;
    Kind kind_ = Kind::Element;
    std::uint8_t flags_ = 0;
};

// A parsed HTML page (HTML5 tree building with gumbo).
inline bool HtmlNode::isElement() const { return kind_ == Kind::Element; }
inline bool HtmlNode::isText() const { return kind_ == Kind::Text; }
inline HtmlNode* HtmlNode::parent() const { return parent_; }
inline const std::vector<HtmlNode*>& HtmlNode::childNodes() const { return children_; }

class HtmlDocument {
public:
    // How deep the tree nests, as in browsers' HTML parsers (the html element is at depth 1).
    // An element inside the one at this depth holds nothing itself: what the page puts in it
    // follows it, in order, as further children of the element at the limit.
    static constexpr int maxDepth = 512;

    // Throws ParseError when the text cannot be parsed.
    static std::unique_ptr<HtmlDocument> parse(const QString& html);
    static std::unique_ptr<HtmlDocument> parse(const QByteArray& utf8Html);
    ~HtmlDocument();

    // The root element ("html").
    HtmlNode* documentElement() const;
    HtmlNode* body() const;   // nullptr when there is none

    std::vector<HtmlNode*> select(const CssSelector& selector) const;
    std::vector<HtmlNode*> select(const QString& selector) const;
    HtmlNode* selectFirst(const CssSelector& selector) const;
    HtmlNode* selectFirst(const QString& selector) const;
    // Removes every node of a selection from the tree.
    static void remove(const std::vector<HtmlNode*>& nodes);

private:
    HtmlDocument();
    struct Storage;
    std::unique_ptr<Storage> storage_;
};
