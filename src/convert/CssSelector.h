#pragma once

// PUBLIC CONTRACT (used by HtmlDocument and MarkdownConverter): keep these signatures.

#include <QString>

#include <memory>
#include <stdexcept>

class HtmlNode;

// A malformed selector; what() says what is wrong and where.
class SelectorError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A parsed CSS selector group of the supported subset: type and universal selectors, #id,
// .class, attribute presence and =, ~=, |=, ^=, $=, *= (values case-sensitive), compound
// selectors, the descendant and child combinators, and groups joined by ",".
// Parse once, match many times; immutable after parsing, so it may be shared across threads.
class CssSelector {
public:
    // Throws SelectorError.
    explicit CssSelector(const QString& text);
    ~CssSelector();
    CssSelector(CssSelector&&) noexcept;
    CssSelector& operator=(CssSelector&&) noexcept;

    // True when `element` (an element node) matches any selector of the group.
    bool matches(const HtmlNode& element) const;
    const QString& text() const;

private:
    friend class HtmlNode;
    friend class HtmlDocument;
    // Matching inside a selection made on `scope`: ancestors above the scope take no part, so
    // "div p" selected on an element finds only paragraphs under a div within that element
    // (the scope itself may be the div). nullptr means the whole tree.
    bool matchesWithin(const HtmlNode& element, const HtmlNode* scope) const;

    struct Parsed;
    std::unique_ptr<Parsed> parsed_;
    QString text_;
};
