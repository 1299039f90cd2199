#pragma once

#include <QByteArray>

// Keeps gumbo's work on a page linear. gumbo 0.10.1 has no depth limit, and its tree builder
// searches the whole stack of open elements for most tokens, so a page nested some 100,000
// levels deep takes minutes. Before gumbo sees a page, one pass follows the tree builder
// (HtmlTreeBuilderModel) and writes the end tag right after the start tag of every element
// that would open deeper than `maxDepth`: such elements stay in the page, empty, and what the
// page puts inside them follows them. Their own end tags, met later, are left out.
//
// A page that never nests that deep comes back unchanged: the very same bytes, not a copy.
class HtmlDepthLimiter {
public:
    struct Result {
        QByteArray html;
        bool changed = false;
        // The page repeats its unclosed formatting (b, i, a, ...) in block after block so often
        // that the tree would grow far beyond the page's size: the page is not to be parsed.
        bool tooRepetitive = false;
    };

    static Result limit(const QByteArray& html, int maxDepth);
};
