#include "convert/HtmlDocument.h"

#include "convert/CssSelector.h"
#include "convert/HtmlDepthLimiter.h"
#include "convert/HtmlParseArena.h"
#include "convert/HtmlTreeBuilder.h"

#include <gumbo.h>

namespace {

// gumbo is given pages nested at most this deep (see HtmlDepthLimiter). It is well above the
// DOM's own limit, so that a page the DOM takes as it is reaches gumbo unchanged even where
// the model of gumbo's tree builder errs on the deep side.
constexpr int kParserDepth = 2 * HtmlDocument::maxDepth;

} // namespace

struct HtmlDocument::Storage {
    HtmlTreeBuilder::Tree tree;
    HtmlNode* root = nullptr;
    HtmlNode* body = nullptr;
};

HtmlDocument::HtmlDocument() : storage_(std::make_unique<Storage>()) {}

HtmlDocument::~HtmlDocument() = default;

std::unique_ptr<HtmlDocument> HtmlDocument::parse(const QString& html)
{
    return parse(html.toUtf8());
}

std::unique_ptr<HtmlDocument> HtmlDocument::parse(const QByteArray& utf8Html)
{
    std::unique_ptr<HtmlDocument> doc(new HtmlDocument());
    {
        const HtmlDepthLimiter::Result limited = HtmlDepthLimiter::limit(utf8Html, kParserDepth);
        if (limited.tooRepetitive)
            throw ParseError("The page repeats its unclosed formatting too often to be converted");
        const QByteArray& page = limited.html;

        // gumbo's whole output lives in the arena, goes back to it node by node during the
        // copy and entirely with it right after.
        HtmlParseArena arena;
        GumboOptions options = kGumboDefaultOptions;
        options.allocator = &HtmlParseArena::gumboAllocate;
        options.deallocator = &HtmlParseArena::gumboDeallocate;
        options.userdata = &arena;
        options.max_errors = 0;   // parse errors are not reported; do not collect them
        const GumboOutput* output = gumbo_parse_with_options(&options, page.constData(), size_t(page.size()));
        if (!output || !output->root)
            throw ParseError("The HTML parser could not parse the page");
        doc->storage_->tree = HtmlTreeBuilder::build(output->root, maxDepth, arena);
    }

    HtmlNode* root = doc->storage_->tree.nodes.get();
    doc->storage_->root = root;
    for (HtmlNode* child : root->childNodes()) {
        if (child->isElement() && child->tagName() == u"body") {
            doc->storage_->body = child;
            break;
        }
    }
    return doc;
}

HtmlNode* HtmlDocument::documentElement() const { return storage_->root; }

HtmlNode* HtmlDocument::body() const
{
    // The body can be removed like any other element; then there is none.
    HtmlNode* b = storage_->body;
    return b && b->parent() == storage_->root ? b : nullptr;
}

std::vector<HtmlNode*> HtmlDocument::select(const CssSelector& selector) const
{
    return HtmlNode::selectUnder(storage_->root, selector, nullptr);
}

std::vector<HtmlNode*> HtmlDocument::select(const QString& selector) const
{
    return select(CssSelector(selector));
}

HtmlNode* HtmlDocument::selectFirst(const CssSelector& selector) const
{
    return HtmlNode::selectFirstUnder(storage_->root, selector, nullptr);
}

HtmlNode* HtmlDocument::selectFirst(const QString& selector) const
{
    return selectFirst(CssSelector(selector));
}

void HtmlDocument::remove(const std::vector<HtmlNode*>& nodes)
{
    // A removed node keeps its place in the array and its parent steps over it, so removing
    // thousands of children of one parent costs no search.
    for (HtmlNode* n : nodes) {
        if (n)
            n->remove();
    }
}

void HtmlDocument::removeMatching(const CssSelector& selector)
{
    HtmlNode* root = storage_->root;
    HtmlNode* end = root + root->subtreeSize_;
    for (HtmlNode* n = root; n < end;) {
        if (n != root && (n->flags_ & HtmlNode::DetachedFlag)) {
            n += n->subtreeSize_;
            continue;
        }
        if (n->isElement() && selector.matchesWithin(*n, nullptr)) {
            n->remove();
            n += n->subtreeSize_;
            continue;
        }
        ++n;
    }
}
