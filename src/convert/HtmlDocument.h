#pragma once

// PUBLIC CONTRACT (used by MarkdownConverter): keep these signatures. The storage layout
// behind them (node arrays, the text buffer) is HtmlDocument's own business.

#include "convert/HtmlNode.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <stdexcept>
#include <vector>

class CssSelector;

class ParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A parsed HTML page (HTML5 tree building with gumbo).
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
    // Removes every element that matches the selector, searching no further inside the ones
    // removed: one pass over the page.
    void removeMatching(const CssSelector& selector);

private:
    HtmlDocument();
    struct Storage;
    std::unique_ptr<Storage> storage_;
};
