#include "convert/HtmlDocument.h"

#include "convert/CssSelector.h"
#include "convert/HtmlDepthLimiter.h"
#include "convert/HtmlParseArena.h"

#include <gumbo.h>

#include <QChar>

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace {

// gumbo is given pages nested at most this deep (see HtmlDepthLimiter). It is well above the
// DOM's own limit, so that a page the DOM takes as it is reaches gumbo unchanged even where
// the model of gumbo's tree builder errs on the deep side.
constexpr int kParserDepth = 2 * HtmlDocument::maxDepth;

const QString& emptyString()
{
    static const QString empty;
    return empty;
}

bool isCollapsibleSpace(QChar c)
{
    // QChar::isSpace covers the ASCII whitespace and the Unicode spaces (no-break space too).
    return c.isSpace();
}

bool isAsciiWhitespace(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\n' || u == '\r' || u == '\f';
}

// Elements that start and end a block of text: text() puts a blank between their text and
// what surrounds them, so "<p>a</p><p>b</p>" reads "a b" and not "ab".
bool isBlockTag(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_HTML: case GUMBO_TAG_HEAD: case GUMBO_TAG_BODY:
    case GUMBO_TAG_ADDRESS: case GUMBO_TAG_ARTICLE: case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE: case GUMBO_TAG_CAPTION: case GUMBO_TAG_CENTER:
    case GUMBO_TAG_COL: case GUMBO_TAG_COLGROUP: case GUMBO_TAG_DD: case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR: case GUMBO_TAG_DIV: case GUMBO_TAG_DL:
    case GUMBO_TAG_DT: case GUMBO_TAG_FIELDSET: case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE: case GUMBO_TAG_FOOTER: case GUMBO_TAG_FORM: case GUMBO_TAG_FRAMESET:
    case GUMBO_TAG_H1: case GUMBO_TAG_H2: case GUMBO_TAG_H3: case GUMBO_TAG_H4:
    case GUMBO_TAG_H5: case GUMBO_TAG_H6: case GUMBO_TAG_HEADER: case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HR: case GUMBO_TAG_LEGEND: case GUMBO_TAG_LI: case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN: case GUMBO_TAG_MENU: case GUMBO_TAG_NAV: case GUMBO_TAG_OL:
    case GUMBO_TAG_OPTGROUP: case GUMBO_TAG_OPTION: case GUMBO_TAG_P:
    case GUMBO_TAG_PLAINTEXT: case GUMBO_TAG_PRE: case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY: case GUMBO_TAG_TABLE: case GUMBO_TAG_TBODY: case GUMBO_TAG_TD:
    case GUMBO_TAG_TFOOT: case GUMBO_TAG_TH: case GUMBO_TAG_THEAD: case GUMBO_TAG_TR:
    case GUMBO_TAG_UL: case GUMBO_TAG_XMP:
        return true;
    default:
        return false;
    }
}

// Lookup of std::string keys by std::string_view without building a string.
struct StringHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};
using InternTable = std::unordered_map<std::string, QString, StringHash, std::equal_to<>>;

} // namespace

struct HtmlDocument::Storage {
    std::unique_ptr<HtmlNode[]> nodes;
    std::unique_ptr<HtmlAttribute[]> attributes;
    HtmlNode* root = nullptr;
    HtmlNode* body = nullptr;
};

// Copies gumbo's tree into the compact DOM. Nodes and attributes live in two arrays sized
// by a counting pass, so building costs no allocation per node beyond its child list and
// its strings; repeated strings (tag and attribute names, short attribute values, whitespace
// runs) share one QString.
struct HtmlTreeBuilder {
    HtmlNode* nodes = nullptr;
    HtmlAttribute* attributes = nullptr;
    size_t nextNode = 0;
    size_t nextAttribute = 0;
    std::vector<QString> tagNames = std::vector<QString>(GUMBO_TAG_LAST + 1);
    InternTable unknownTags;
    InternTable attributeNames;
    InternTable shortValues;
    InternTable whitespace;

    static bool keptNode(const GumboNode* n)
    {
        switch (n->type) {
        case GUMBO_NODE_ELEMENT: case GUMBO_NODE_TEMPLATE: case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE: case GUMBO_NODE_CDATA:
            return true;
        default:
            return false;
        }
    }

    static const GumboVector* keptChildren(const GumboNode* n)
    {
        // Template contents are inert and are dropped.
        return n->type == GUMBO_NODE_ELEMENT ? &n->v.element.children : nullptr;
    }

    static void count(const GumboNode* root, size_t& nodeCount, size_t& attributeCount)
    {
        std::vector<const GumboNode*> stack{root};
        while (!stack.empty()) {
            const GumboNode* n = stack.back();
            stack.pop_back();
            ++nodeCount;
            if (n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE)
                attributeCount += n->v.element.attributes.length;
            if (const GumboVector* children = keptChildren(n)) {
                for (unsigned i = 0; i < children->length; ++i) {
                    const auto* c = static_cast<const GumboNode*>(children->data[i]);
                    if (keptNode(c))
                        stack.push_back(c);
                }
            }
        }
    }

    static QString intern(InternTable& table, std::string_view s)
    {
        auto it = table.find(s);
        if (it == table.end())
            it = table.emplace(std::string(s), QString::fromUtf8(s.data(), qsizetype(s.size()))).first;
        return it->second;
    }

    QString tagName(const GumboElement& e)
    {
        if (e.tag != GUMBO_TAG_UNKNOWN) {
            QString& name = tagNames[e.tag];
            if (name.isNull())
                name = QString::fromLatin1(gumbo_normalized_tagname(e.tag));
            return name;
        }
        GumboStringPiece piece = e.original_tag;
        gumbo_tag_from_original_text(&piece);
        std::string lower(piece.data, piece.length);
        for (char& ch : lower) {
            if (ch >= 'A' && ch <= 'Z')
                ch = char(ch - 'A' + 'a');
        }
        auto it = unknownTags.find(lower);
        if (it == unknownTags.end()) {
            QString name = QString::fromUtf8(lower.data(), qsizetype(lower.size())).toLower();
            it = unknownTags.emplace(std::move(lower), std::move(name)).first;
        }
        return it->second;
    }

    QString attributeName(const char* name)
    {
        std::string_view s(name);
        auto it = attributeNames.find(s);
        if (it == attributeNames.end())
            it = attributeNames.emplace(std::string(s), QString::fromUtf8(s.data(), qsizetype(s.size())).toLower()).first;
        return it->second;
    }

    QString attributeValue(const char* value)
    {
        std::string_view s(value);
        if (s.size() <= 96)
            return intern(shortValues, s);
        return QString::fromUtf8(s.data(), qsizetype(s.size()));
    }

    void fillElement(HtmlNode* node, const GumboNode* g)
    {
        const GumboElement& e = g->v.element;
        node->kind_ = HtmlNode::Kind::Element;
        node->str_ = tagName(e);
        // gumbo knows "dialog" only as an unknown tag.
        if (isBlockTag(e.tag) || (e.tag == GUMBO_TAG_UNKNOWN && node->str_ == u"dialog"))
            node->flags_ |= HtmlNode::BlockFlag;
        if (e.tag == GUMBO_TAG_BR)
            node->flags_ |= HtmlNode::BreakFlag;
        if (e.tag == GUMBO_TAG_SCRIPT || e.tag == GUMBO_TAG_STYLE)
            node->flags_ |= HtmlNode::RawTextFlag;
        if (e.attributes.length > 0) {
            HtmlAttribute* attrs = attributes + nextAttribute;
            nextAttribute += e.attributes.length;
            for (unsigned i = 0; i < e.attributes.length; ++i) {
                const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
                attrs[i].name = attributeName(a->name);
                attrs[i].value = attributeValue(a->value);
            }
            node->attrs_ = attrs;
            node->attrCount_ = e.attributes.length;
        }
    }

    void fillText(HtmlNode* node, const GumboNode* g)
    {
        node->kind_ = HtmlNode::Kind::Text;
        std::string_view s(g->v.text.text);
        if (g->type == GUMBO_NODE_WHITESPACE && s.size() <= 64)
            node->str_ = intern(whitespace, s);
        else
            node->str_ = QString::fromUtf8(s.data(), qsizetype(s.size()));
    }

    // Nodes go into the array in document order (pre-order), each appended to its parent's
    // child list when it is made; then the subtree sizes are summed from the back.
    //
    // Below HtmlDocument::maxDepth nothing nests: what gumbo puts inside a child of the element
    // at that depth is attached, in document order, to the element at the limit (the text of a
    // script or style stays in its element, where it is no readable text).
    HtmlNode* build(const GumboNode* root)
    {
        struct Pending {
            const GumboNode* gumbo;
            HtmlNode* parent;
            int depth;   // the depth of the node to make; the root is at 1
        };
        constexpr int limit = HtmlDocument::maxDepth;
        std::vector<Pending> stack{{root, nullptr, 1}};
        while (!stack.empty()) {
            const Pending p = stack.back();
            stack.pop_back();
            HtmlNode* node = &nodes[nextNode++];
            node->parent_ = p.parent;
            if (p.parent)
                p.parent->children_.push_back(node);
            if (p.gumbo->type == GUMBO_NODE_ELEMENT || p.gumbo->type == GUMBO_NODE_TEMPLATE)
                fillElement(node, p.gumbo);
            else
                fillText(node, p.gumbo);
            const GumboVector* children = keptChildren(p.gumbo);
            if (!children)
                continue;
            HtmlNode* parent = node;
            int depth = p.depth + 1;
            if (p.depth > limit && !(node->flags_ & HtmlNode::RawTextFlag)) {
                parent = p.parent;
                depth = p.depth;
            }
            const size_t before = stack.size();
            for (unsigned i = children->length; i-- > 0;) {
                const auto* c = static_cast<const GumboNode*>(children->data[i]);
                if (keptNode(c))
                    stack.push_back({c, parent, depth});
            }
            if (parent == node)
                node->children_.reserve(stack.size() - before);
        }
        for (size_t i = nextNode; i-- > 0;) {
            HtmlNode& n = nodes[i];
            for (const HtmlNode* c : n.children_)
                n.subtreeSize_ += c->subtreeSize_;
        }
        return &nodes[0];
    }
};

// --- HtmlNode ---

const QString& HtmlNode::wholeText() const
{
    return kind_ == Kind::Text ? str_ : emptyString();
}

const QString& HtmlNode::tagName() const
{
    return kind_ == Kind::Element ? str_ : emptyString();
}

const QString* HtmlNode::findAttr(QStringView lowerName) const
{
    for (std::uint32_t i = 0; i < attrCount_; ++i) {
        if (attrs_[i].name == lowerName)
            return &attrs_[i].value;
    }
    return nullptr;
}

bool HtmlNode::hasAttr(const QString& name) const
{
    for (std::uint32_t i = 0; i < attrCount_; ++i) {
        if (attrs_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

QString HtmlNode::attr(const QString& name) const
{
    for (std::uint32_t i = 0; i < attrCount_; ++i) {
        if (attrs_[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return attrs_[i].value;
    }
    return QString();
}

QStringList HtmlNode::classNames() const
{
    QStringList names;
    const QString* value = findAttr(u"class");
    if (!value)
        return names;
    const QStringView v(*value);
    qsizetype i = 0;
    while (i < v.size()) {
        while (i < v.size() && isAsciiWhitespace(v[i]))
            ++i;
        const qsizetype start = i;
        while (i < v.size() && !isAsciiWhitespace(v[i]))
            ++i;
        if (i > start)
            names.append(v.mid(start, i - start).toString());
    }
    return names;
}

std::span<const HtmlAttribute> HtmlNode::attributes() const
{
    return {attrs_, attrCount_};
}

std::vector<HtmlNode*> HtmlNode::childElements() const
{
    std::vector<HtmlNode*> elements;
    for (HtmlNode* c : children_) {
        if (c->isElement())
            elements.push_back(c);
    }
    return elements;
}

void HtmlNode::appendText(QString& out, bool& pendingBlank) const
{
    for (QChar c : str_) {
        if (isCollapsibleSpace(c)) {
            pendingBlank = true;
            continue;
        }
        if (pendingBlank && !out.isEmpty())
            out.append(QLatin1Char(' '));
        pendingBlank = false;
        out.append(c);
    }
}

QString HtmlNode::text() const
{
    QString out;
    bool pendingBlank = false;
    if (isText()) {
        appendText(out, pendingBlank);
        return out;
    }
    // An explicit stack: pages can nest far deeper than the call stack allows. A null entry
    // marks the end of a block element, where a blank separates what follows.
    std::vector<const HtmlNode*> stack{this};
    while (!stack.empty()) {
        const HtmlNode* n = stack.back();
        stack.pop_back();
        if (!n) {
            pendingBlank = true;
            continue;
        }
        if (n->isText()) {
            if (!(n->parent_ && (n->parent_->flags_ & RawTextFlag)))
                n->appendText(out, pendingBlank);
            continue;
        }
        if (n->flags_ & (BlockFlag | BreakFlag)) {
            pendingBlank = true;
            if (n->flags_ & BlockFlag)
                stack.push_back(nullptr);
        }
        for (auto it = n->children_.rbegin(); it != n->children_.rend(); ++it)
            stack.push_back(*it);
    }
    return out;
}

// A linear scan of the node array, jumping over the subtrees removed since parsing: much
// cheaper than chasing child lists, and no stack at all.
template <typename Visit>
void HtmlNode::walkElements(const HtmlNode* root, Visit&& visit)
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

std::vector<HtmlNode*> HtmlNode::select(const CssSelector& selector) const
{
    std::vector<HtmlNode*> found;
    if (!isElement())
        return found;
    walkElements(this, [&](const HtmlNode* n) {
        if (selector.matchesWithin(*n, this))
            found.push_back(const_cast<HtmlNode*>(n));
        return true;
    });
    return found;
}

std::vector<HtmlNode*> HtmlNode::select(const QString& selector) const
{
    return select(CssSelector(selector));
}

HtmlNode* HtmlNode::selectFirst(const CssSelector& selector) const
{
    HtmlNode* first = nullptr;
    if (!isElement())
        return first;
    walkElements(this, [&](const HtmlNode* n) {
        if (selector.matchesWithin(*n, this)) {
            first = const_cast<HtmlNode*>(n);
            return false;
        }
        return true;
    });
    return first;
}

HtmlNode* HtmlNode::selectFirst(const QString& selector) const
{
    return selectFirst(CssSelector(selector));
}

void HtmlNode::remove()
{
    if (!parent_)
        return;
    auto& siblings = parent_->children_;
    siblings.erase(std::find(siblings.begin(), siblings.end(), this));
    parent_ = nullptr;
    flags_ |= DetachedFlag;
}

// --- HtmlDocument ---

HtmlDocument::HtmlDocument() : storage_(std::make_unique<Storage>()) {}

HtmlDocument::~HtmlDocument() = default;

std::unique_ptr<HtmlDocument> HtmlDocument::parse(const QString& html)
{
    return parse(html.toUtf8());
}

std::unique_ptr<HtmlDocument> HtmlDocument::parse(const QByteArray& utf8Html)
{
    const HtmlDepthLimiter::Result limited = HtmlDepthLimiter::limit(utf8Html, kParserDepth);
    if (limited.tooRepetitive)
        throw ParseError("The page repeats its unclosed formatting too often to be converted");
    const QByteArray& page = limited.html;

    // gumbo's whole output lives in the arena and goes with it, right after the copy.
    HtmlParseArena arena;
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = &HtmlParseArena::gumboAllocate;
    options.deallocator = &HtmlParseArena::gumboDeallocate;
    options.userdata = &arena;
    options.max_errors = 0;   // parse errors are not reported; do not collect them
    const GumboOutput* output = gumbo_parse_with_options(&options, page.constData(), size_t(page.size()));
    if (!output || !output->root)
        throw ParseError("The HTML parser could not parse the page");

    std::unique_ptr<HtmlDocument> doc(new HtmlDocument());
    size_t nodeCount = 0;
    size_t attributeCount = 0;
    HtmlTreeBuilder::count(output->root, nodeCount, attributeCount);
    if (nodeCount > UINT32_MAX)
        throw ParseError("The page has too many nodes");
    doc->storage_->nodes.reset(new HtmlNode[nodeCount]);
    if (attributeCount > 0)
        doc->storage_->attributes.reset(new HtmlAttribute[attributeCount]);

    HtmlTreeBuilder builder;
    builder.nodes = doc->storage_->nodes.get();
    builder.attributes = doc->storage_->attributes.get();
    HtmlNode* root = builder.build(output->root);
    doc->storage_->root = root;
    for (HtmlNode* child : root->children_) {
        if (child->isElement() && child->str_ == u"body") {
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
    std::vector<HtmlNode*> found;
    HtmlNode::walkElements(storage_->root, [&](const HtmlNode* n) {
        if (selector.matchesWithin(*n, nullptr))
            found.push_back(const_cast<HtmlNode*>(n));
        return true;
    });
    return found;
}

std::vector<HtmlNode*> HtmlDocument::select(const QString& selector) const
{
    return select(CssSelector(selector));
}

HtmlNode* HtmlDocument::selectFirst(const CssSelector& selector) const
{
    HtmlNode* first = nullptr;
    HtmlNode::walkElements(storage_->root, [&](const HtmlNode* n) {
        if (selector.matchesWithin(*n, nullptr)) {
            first = const_cast<HtmlNode*>(n);
            return false;
        }
        return true;
    });
    return first;
}

HtmlNode* HtmlDocument::selectFirst(const QString& selector) const
{
    return selectFirst(CssSelector(selector));
}

void HtmlDocument::remove(const std::vector<HtmlNode*>& nodes)
{
    // One pass per parent rather than one search per node: a clean-up can remove thousands of
    // children of the same parent.
    std::unordered_set<const HtmlNode*> doomed(nodes.begin(), nodes.end());
    std::unordered_set<HtmlNode*> parents;
    for (HtmlNode* n : nodes) {
        if (n && n->parent_)
            parents.insert(n->parent_);
    }
    for (HtmlNode* p : parents) {
        auto& children = p->children_;
        children.erase(std::remove_if(children.begin(), children.end(), [&](HtmlNode* c) {
            if (!doomed.count(c))
                return false;
            c->parent_ = nullptr;
            c->flags_ |= HtmlNode::DetachedFlag;
            return true;
        }), children.end());
    }
}
