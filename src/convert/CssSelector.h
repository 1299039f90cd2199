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
    struct Parsed;
    std::unique_ptr<Parsed> parsed_;
    QString text_;
};
