#include "convert/HtmlTreeBuilder.h"

#include "convert/HtmlDocument.h"
#include "convert/HtmlParseArena.h"

#include <QStringDecoder>

#include <array>
#include <new>
#include <type_traits>
#include <cstring>
#include <vector>

namespace {

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

// The names of gumbo's tags, made once for the process.
const QString& knownTagName(GumboTag tag)
{
    static const std::array<QString, GUMBO_TAG_LAST> names = [] {
        std::array<QString, GUMBO_TAG_LAST> made;
        for (int t = 0; t < GUMBO_TAG_LAST; ++t)
            made[std::size_t(t)] = QString::fromLatin1(gumbo_normalized_tagname(GumboTag(t)));
        return made;
    }();
    return names[std::size_t(tag)];
}

bool keptNode(const GumboNode* n)
{
    switch (n->type) {
    case GUMBO_NODE_ELEMENT: case GUMBO_NODE_TEMPLATE: case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE: case GUMBO_NODE_CDATA:
        return true;
    default:
        return false;
    }
}

bool isElementNode(const GumboNode* n)
{
    return n->type == GUMBO_NODE_ELEMENT || n->type == GUMBO_NODE_TEMPLATE;
}

const GumboVector* keptChildren(const GumboNode* n)
{
    // Template contents are inert and are dropped.
    return n->type == GUMBO_NODE_ELEMENT ? &n->v.element.children : nullptr;
}

const GumboNode* childAt(const GumboVector& children, unsigned i)
{
    return static_cast<const GumboNode*>(children.data[i]);
}

// Memory for `count` objects that are made one by one later.
template <typename T>
T* rawArray(std::size_t count)
{
    static_assert(std::is_trivially_destructible_v<T>);
    if (count == 0)
        return nullptr;
    void* memory = std::malloc(count * sizeof(T));
    if (!memory)
        throw std::bad_alloc();
    return static_cast<T*>(memory);
}

} // namespace

template <typename Visit, typename Leave, typename Skip>
void HtmlTreeBuilder::walk(const GumboNode* root, Visit&& visit, Leave&& leave, Skip&& skip)
{
    std::vector<Level> stack;
    visit(root, Level{}, stack);
    while (!stack.empty()) {
        Level& level = stack.back();
        if (level.next == level.children->length) {
            const Level done = level;
            stack.pop_back();
            leave(done);
            continue;
        }
        // gumbo's nodes lie far apart: ask for the next sibling but one while this one is read.
        if (level.next + 2 < level.children->length)
            __builtin_prefetch(level.children->data[level.next + 2]);
        const GumboNode* child = childAt(*level.children, level.next++);
        if (keptNode(child))
            visit(child, Level(level), stack);
        else
            skip(child);
    }
}

HtmlTreeBuilder::Counts HtmlTreeBuilder::count(const GumboNode* root)
{
    Counts counts;
    const auto visit = [&counts](const GumboNode* n, const Level&, std::vector<Level>& stack) {
        ++counts.nodes;
        if (isElementNode(n)) {
            const GumboVector& attributes = n->v.element.attributes;
            counts.attributes += attributes.length;
            for (unsigned i = 0; i < attributes.length; ++i) {
                const auto* a = static_cast<const GumboAttribute*>(attributes.data[i]);
                counts.textUnits += std::strlen(a->name) + std::strlen(a->value);
            }
        } else {
            counts.textUnits += std::strlen(n->v.text.text);
        }
        if (const GumboVector* children = keptChildren(n); children && children->length > 0)
            stack.push_back({n, children, 0, 0, 0});
    };
    walk(root, visit, [](const Level&) {}, [](const GumboNode*) {});
    return counts;
}

HtmlTreeBuilder::Tree HtmlTreeBuilder::build(const GumboNode* root, int maxDepth, HtmlParseArena& arena)
{
    const Counts counts = count(root);
    if (counts.nodes > UINT32_MAX)
        throw ParseError("The page has too many nodes");
    Tree tree;
    tree.nodeCount = counts.nodes;
    tree.attributeCount = counts.attributes;
    tree.textCapacity = counts.textUnits + 1;
    tree.nodes.reset(rawArray<HtmlNode>(counts.nodes));
    tree.attributes.reset(rawArray<HtmlAttribute>(counts.attributes));
    tree.text = std::make_unique_for_overwrite<char16_t[]>(tree.textCapacity);

    HtmlTreeBuilder builder(tree, arena);
    builder.textEnd_ = tree.text.get();
    arena.releaseEmptyBlocks();
    builder.copy(root, maxDepth);
    tree.textSize = std::size_t(builder.textEnd_ - tree.text.get());
    return tree;
}

// Nodes go into the array in document order (pre-order), each with the distance back to its
// parent; then the subtree sizes are summed from the back.
void HtmlTreeBuilder::copy(const GumboNode* root, int maxDepth)
{
    HtmlNode* nodes = tree_.nodes.get();
    const auto visit = [&](const GumboNode* gumbo, const Level& at, std::vector<Level>& stack) {
        const auto index = std::uint32_t(nextNode_++);
        HtmlNode& node = *new (nodes + index) HtmlNode();
        const int depth = at.children ? at.depth : 1;   // the root is at 1
        if (at.children)
            node.parentOffset_ = index - at.parent;
        if (isElementNode(gumbo))
            fillElement(node, *gumbo);
        else
            fillText(node, *gumbo);
        const GumboVector* children = keptChildren(gumbo);
        if (!children || children->length == 0) {
            release(gumbo);
            return;
        }
        if (depth > maxDepth && !(node.flags_ & HtmlNode::RawTextFlag))
            stack.push_back({gumbo, children, 0, at.parent, depth});
        else
            stack.push_back({gumbo, children, 0, index, depth + 1});
    };
    walk(root, visit, [this](const Level& done) { release(done.owner); },
        [this](const GumboNode* dropped) { release(dropped); });
    for (std::size_t i = nextNode_; i-- > 1;) {
        const HtmlNode& n = nodes[i];
        if (n.parentOffset_)
            nodes[i - n.parentOffset_].subtreeSize_ += n.subtreeSize_;
    }
}

void HtmlTreeBuilder::release(const GumboNode* node)
{
    switch (node->type) {
    case GUMBO_NODE_ELEMENT:
    case GUMBO_NODE_TEMPLATE: {
        // A template's content is not walked: it stays in the arena until the arena goes.
        const GumboElement& e = node->v.element;
        for (unsigned i = 0; i < e.attributes.length; ++i) {
            auto* a = static_cast<GumboAttribute*>(e.attributes.data[i]);
            arena_.deallocate(const_cast<char*>(a->name));
            arena_.deallocate(const_cast<char*>(a->value));
            arena_.deallocate(a);
        }
        arena_.deallocate(e.attributes.data);
        arena_.deallocate(e.children.data);
        break;
    }
    case GUMBO_NODE_TEXT:
    case GUMBO_NODE_WHITESPACE:
    case GUMBO_NODE_CDATA:
    case GUMBO_NODE_COMMENT:
        arena_.deallocate(const_cast<char*>(node->v.text.text));
        break;
    default:
        return;   // the document node never appears below the root
    }
    arena_.deallocate(const_cast<GumboNode*>(node));
}

void HtmlTreeBuilder::fillElement(HtmlNode& node, const GumboNode& gumbo)
{
    const GumboElement& e = gumbo.v.element;
    node.kind_ = HtmlNode::Kind::Element;
    if (e.tag != GUMBO_TAG_UNKNOWN) {
        node.name_ = &knownTagName(e.tag);
        node.tag_ = std::uint16_t(e.tag);
    } else {
        const UnknownTag& unknown = unknownTag(e);
        node.name_ = unknown.name;
        node.tag_ = std::uint16_t(unknown.tag);
    }
    // gumbo knows "dialog" only as an unknown tag.
    if (isBlockTag(e.tag) || (e.tag == GUMBO_TAG_UNKNOWN && *node.name_ == u"dialog"))
        node.flags_ |= HtmlNode::BlockFlag;
    if (e.tag == GUMBO_TAG_BR)
        node.flags_ |= HtmlNode::BreakFlag;
    if (e.tag == GUMBO_TAG_SCRIPT || e.tag == GUMBO_TAG_STYLE)
        node.flags_ |= HtmlNode::RawTextFlag;
    if (e.attributes.length == 0)
        return;
    HtmlAttribute* attrs = tree_.attributes.get() + nextAttribute_;
    nextAttribute_ += e.attributes.length;
    for (unsigned i = 0; i < e.attributes.length; ++i) {
        const auto* a = static_cast<const GumboAttribute*>(e.attributes.data[i]);
        const QStringView name = appendAttributeName(a->name);
        new (attrs + i) HtmlAttribute{name, appendText(a->value, std::strlen(a->value))};
    }
    node.attrs_ = attrs;
    node.count_ = e.attributes.length;
}

void HtmlTreeBuilder::fillText(HtmlNode& node, const GumboNode& gumbo)
{
    node.kind_ = HtmlNode::Kind::Text;
    const QStringView text = appendText(gumbo.v.text.text, std::strlen(gumbo.v.text.text));
    node.text_ = text.data();
    node.count_ = std::uint32_t(text.size());
}

const HtmlTreeBuilder::UnknownTag& HtmlTreeBuilder::unknownTag(const GumboElement& element)
{
    GumboStringPiece piece = element.original_tag;
    gumbo_tag_from_original_text(&piece);
    lowered_.assign(piece.data ? piece.data : "", piece.length);
    for (char& ch : lowered_) {
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    }
    auto it = unknownTags_.find(lowered_);
    if (it == unknownTags_.end()) {
        const QString& name = tree_.names.emplace_back(
            QString::fromUtf8(lowered_.data(), qsizetype(lowered_.size())).toLower());
        // A name that reads as a known tag once lower-cased (a Kelvin sign for a "k") stands
        // for that tag, as its name says.
        const QByteArray utf8 = name.toUtf8();
        const GumboTag tag = gumbo_tagn_enum(utf8.constData(), unsigned(utf8.size()));
        it = unknownTags_.emplace(lowered_, UnknownTag{&name, tag}).first;
    }
    return it->second;
}

QStringView HtmlTreeBuilder::appendText(const char* utf8, std::size_t size)
{
    char16_t* start = textEnd_;
    textEnd_ = reinterpret_cast<char16_t*>(decoder_.appendToBuffer(
        reinterpret_cast<QChar*>(start), QByteArrayView(utf8, qsizetype(size))));
    return QStringView(start, textEnd_ - start);
}

QStringView HtmlTreeBuilder::appendAttributeName(const char* name)
{
    const std::size_t size = std::strlen(name);
    bool ascii = true;
    for (std::size_t i = 0; i < size; ++i)
        ascii = ascii && (static_cast<unsigned char>(name[i]) < 0x80);
    if (ascii) {
        char16_t* start = textEnd_;
        for (std::size_t i = 0; i < size; ++i) {
            const char ch = name[i];
            *textEnd_++ = char16_t(ch >= 'A' && ch <= 'Z' ? ch - 'A' + 'a' : ch);
        }
        return QStringView(start, textEnd_ - start);
    }
    QString lowered = QString::fromUtf8(name, qsizetype(size)).toLower();
    if (std::size_t(lowered.size()) <= size) {
        char16_t* start = textEnd_;
        std::memcpy(start, lowered.utf16(), std::size_t(lowered.size()) * sizeof(char16_t));
        textEnd_ += lowered.size();
        return QStringView(start, textEnd_ - start);
    }
    tree_.names.push_back(std::move(lowered));
    return tree_.names.back();
}

void HtmlTreeBuilder::fitText(Tree& tree)
{
    const char16_t* old = tree.text.get();
    const std::size_t used = tree.textSize;
    if (tree.textCapacity - used <= used / 4 + 4096)
        return;
    auto text = std::make_unique_for_overwrite<char16_t[]>(used + 1);
    std::memcpy(text.get(), old, used * sizeof(char16_t));
    const auto moved = [&](QStringView view) {
        const auto* data = reinterpret_cast<const char16_t*>(view.data());
        if (data < old || data >= old + tree.textCapacity)
            return view;   // a name kept on its own
        return QStringView(text.get() + (data - old), view.size());
    };
    for (std::size_t i = 0; i < tree.nodeCount; ++i) {
        HtmlNode& n = tree.nodes[i];
        if (n.isText())
            n.text_ = moved(n.wholeText()).data();
    }
    for (std::size_t i = 0; i < tree.attributeCount; ++i) {
        tree.attributes[i].name = moved(tree.attributes[i].name);
        tree.attributes[i].value = moved(tree.attributes[i].value);
    }
    tree.text = std::move(text);
    tree.textCapacity = used + 1;
}
